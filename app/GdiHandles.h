// Owners for the GDI and user objects that the dialogs create themselves.
// Shared objects (LoadIcon, LR_SHARED, stock objects) are never put in here.
#pragma once

#include "recorderlibs/Win32Handle.h"

namespace win32 {

struct FontTraits {
    using Type = HFONT;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type h) noexcept { return ::DeleteObject(h) != FALSE; }
};

struct IconTraits {
    using Type = HICON;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type h) noexcept { return ::DestroyIcon(h) != FALSE; }
};

using UniqueFont = UniqueResource<FontTraits>;
using UniqueIcon = UniqueResource<IconTraits>;

}  // namespace win32
