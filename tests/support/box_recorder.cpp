#include "support/box_recorder.h"

#include <zplatform.h>

#include "zhost/zhost.h"

BoxRecorder::BoxRecorder()
{
    ZPlatformSetMessageBoxHandler(&BoxRecorder::OnBox, this);
}

BoxRecorder::~BoxRecorder()
{
    InstallUiDriver();
}

int BoxRecorder::OnBox(void* context, HWND, LPCSTR text, LPCSTR caption, UINT type)
{
    BoxRecorder* self = static_cast<BoxRecorder*>(context);
    self->boxes_.push_back({text != nullptr ? text : "", caption != nullptr ? caption : "", type});
    return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

std::vector<std::string> BoxRecorder::Texts() const
{
    std::vector<std::string> texts;
    for (const ShownBox& box : boxes_)
        texts.push_back(box.text);
    return texts;
}
