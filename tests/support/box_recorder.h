// Records the message boxes the plug-in shows, in place of zhost's driver.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

struct ShownBox {
    std::string text;  // Shift-JIS, as the plug-in passed it
    std::string caption;
    UINT type;
};

// Records every message box while alive (answering OK, or Yes to a question),
// then restores zhost's driver.
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    const std::vector<ShownBox>& boxes() const { return boxes_; }
    std::vector<std::string> Texts() const;
    void Clear() { boxes_.clear(); }

private:
    static int OnBox(void* context, HWND owner, LPCSTR text, LPCSTR caption, UINT type);
    std::vector<ShownBox> boxes_;
};
