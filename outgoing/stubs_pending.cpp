// Placeholders until the outgoing side lands; each is replaced by its real file.
#include "outgoing/encrypt.h"
#include "outgoing/sign.h"

void WINAPI OnEncryptCommand(HWND, LPARAM) {}
void WINAPI OnSignCommand(HWND, LPARAM) {}
void WINAPI OnSignEncryptCommand(HWND, LPARAM) {}
