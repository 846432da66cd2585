// What zhost and the tests add to the Windows API: hooks for the driver that
// answers message boxes and plays a dialog as a user would. The POSIX platform
// layer implements them over its headless user interface; zhost's Windows
// build implements them over user32 (zhost/win32/). The module resources
// below exist on POSIX only.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Receives every message box; returns the button to press (IDOK, IDYES, IDNO, ...).
typedef int (*ZMessageBoxHandler)(void* context, HWND owner, LPCSTR text, LPCSTR caption,
                                  UINT type);

// Receives every modal dialog once it is initialised (on POSIX after
// WM_INITDIALOG; under user32 once it is shown) and plays the user's actions
// (on POSIX WM_COMMAND messages to the procedure; under user32 real clicks and
// selections) until the dialog ends. When it returns and the dialog is still
// open, the dialog is cancelled.
typedef void (*ZDialogHandler)(void* context, HWND dialog);

void ZPlatformSetMessageBoxHandler(ZMessageBoxHandler handler, void* context);
void ZPlatformSetDialogHandler(ZDialogHandler handler, void* context);

// Whether EndDialog has closed the dialog (it stays readable until the driver
// returns). result, when not null, receives on POSIX the value given to
// EndDialog; user32 keeps that value to itself, so there it is the button
// whose click ended the dialog: IDOK or IDCANCEL.
BOOL ZPlatformDialogEnded(HWND dialog, INT_PTR* result);

// That value for the last modal dialog that ended; 0 when none has.
INT_PTR ZPlatformLastDialogResult(void);

// A module's resources. The Windows build has a resource section; on POSIX the
// build generates this table from the same resource script and links it into
// the module, exported under ZPLATFORM_RESOURCES_SYMBOL, where DialogBoxParamA
// finds it through the module handle.
typedef struct ZDialogItemTemplate {
    int id;
    const char* className;  // "Button", "Edit", "Static", "ComboBox"
    DWORD style;
    short x, y, cx, cy;     // dialog units
    const char* text;       // Shift-JIS
    int imageId;            // bitmap resource of an SS_BITMAP static, else 0
} ZDialogItemTemplate;

typedef struct ZDialogTemplate {
    int id;
    const char* caption;
    DWORD style;
    short x, y, cx, cy;
    int pointSize;
    const char* fontName;
    const ZDialogItemTemplate* items;  // template order, which is the tab order
    int itemCount;
} ZDialogTemplate;

typedef struct ZBitmapResource {
    int id;
    const unsigned char* bytes;  // a .bmp file
    size_t size;
} ZBitmapResource;

typedef struct ZModuleResources {
    const ZDialogTemplate* dialogs;
    int dialogCount;
    const ZBitmapResource* bitmaps;
    int bitmapCount;
} ZModuleResources;

#define ZPLATFORM_RESOURCES_SYMBOL "ZPlatformModuleResources"

// The resources of a module (null: the executable), or null when it has none.
const ZModuleResources* ZPlatformModuleResourcesOf(HINSTANCE module);

// For tests: the next call of the named function after `skip` successful ones
// fails as the system can make it fail ("CertOpenSystemStoreA": the store
// cannot be opened; "WritePrivateProfileStringA": the new file cannot be
// written in full, as on a full disk). Once only; a null name clears it.
void ZPlatformInjectFailure(const char* function, unsigned skip);

// How many times GetProcAddress has been called in this process.
unsigned ZPlatformProcLookupCount(void);

#ifdef __cplusplus
}
#endif
