// The module keeps the last system error text (FormatMessageA's buffer) until
// it is asked for the next one, by design; the one still held when a test
// unloads the plug-in is not a leak of any run.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:FormatMessageA\n";
}
