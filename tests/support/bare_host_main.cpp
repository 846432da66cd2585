// A host executable without ZDA_Connect: prints whether the plug-in loaded.
#include <stdio.h>

#include <windows.h>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    HMODULE module = LoadLibraryA(argv[1]);
    printf("%s\n", module != NULL ? "loaded" : "refused");
    return 0;
}
