#pragma once
// The banner of the main dialog: a PNG with alpha, kept in the program's resources, decoded with
// GDI+ into a 32-bit premultiplied-alpha bitmap that a bitmap static control can draw.

#include <windows.h>

namespace qm::win32 {

class banner_image {
public:
    // Decodes the resource (type, name) of `module`; on any failure the image stays empty.
    banner_image(HMODULE module, int type, int name);
    ~banner_image();
    banner_image(const banner_image&) = delete;
    banner_image& operator=(const banner_image&) = delete;

    // Null when the image is empty. Still owned by this object.
    HBITMAP bitmap() const noexcept { return bitmap_handle; }

private:
    HBITMAP bitmap_handle = nullptr;
};

// Decodes PNG (or any format GDI+ reads) bytes into a top-down 32 bpp premultiplied-alpha DIB
// section; null on failure. The caller owns the bitmap.
HBITMAP decode_image(const void* data, DWORD size);

} // namespace qm::win32
