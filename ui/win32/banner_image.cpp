#include "ui/win32/banner_image.h"

#include <gdiplus.h>
#include <objbase.h>

#include <cstring>

namespace qm::win32 {

namespace {

// GDI+ for the duration of one decoding; the bitmap it fills is a plain GDI object that outlives it.
class gdiplus_session {
public:
    gdiplus_session()
    {
        Gdiplus::GdiplusStartupInput input;
        succeeded = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }
    ~gdiplus_session()
    {
        if (succeeded)
            Gdiplus::GdiplusShutdown(token);
    }
    bool ok() const noexcept { return succeeded; }

private:
    ULONG_PTR token = 0;
    bool succeeded = false;
};

HBITMAP decode_stream(IStream* stream)
{
    gdiplus_session session;
    if (!session.ok())
        return nullptr;
    Gdiplus::GpBitmap* image = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromStream(stream, &image) != Gdiplus::Ok || !image)
        return nullptr;
    HBITMAP result = nullptr;
    UINT width = 0, height = 0;
    Gdiplus::DllExports::GdipGetImageWidth(image, &width);
    Gdiplus::DllExports::GdipGetImageHeight(image, &height);
    if (width > 0 && height > 0 && width <= 16384 && height <= 16384) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = static_cast<LONG>(width);
        info.bmiHeader.biHeight = -static_cast<LONG>(height); // top-down, as GDI+ lays out its rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (dib && bits) {
            // GDI+ converts straight into the DIB's memory: premultiplied alpha, as AlphaBlend wants.
            Gdiplus::Rect rect(0, 0, static_cast<INT>(width), static_cast<INT>(height));
            Gdiplus::BitmapData data{};
            data.Width = width;
            data.Height = height;
            data.Stride = static_cast<INT>(width * 4);
            data.PixelFormat = PixelFormat32bppPARGB;
            data.Scan0 = bits;
            if (Gdiplus::DllExports::GdipBitmapLockBits(
                    image, &rect, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                    PixelFormat32bppPARGB, &data) == Gdiplus::Ok &&
                Gdiplus::DllExports::GdipBitmapUnlockBits(image, &data) == Gdiplus::Ok) {
                result = dib;
                dib = nullptr;
            }
        }
        if (dib)
            DeleteObject(dib);
    }
    Gdiplus::DllExports::GdipDisposeImage(image);
    return result;
}

} // namespace

HBITMAP decode_image(const void* data, DWORD size)
{
    if (!data || size == 0)
        return nullptr;
    // The stream works on a movable global block of its own, which it does not free.
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block)
        return nullptr;
    HBITMAP result = nullptr;
    if (void* p = GlobalLock(block)) {
        std::memcpy(p, data, size);
        GlobalUnlock(block);
        IStream* stream = nullptr;
        if (SUCCEEDED(CreateStreamOnHGlobal(block, FALSE, &stream)) && stream) {
            result = decode_stream(stream);
            stream->Release();
        }
    }
    GlobalFree(block);
    return result;
}

banner_image::banner_image(HMODULE module, int type, int name)
{
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(name), MAKEINTRESOURCEW(type));
    if (!info)
        return;
    HGLOBAL loaded = LoadResource(module, info);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    DWORD size = SizeofResource(module, info);
    bitmap_handle = decode_image(bytes, size);
}

banner_image::~banner_image()
{
    if (bitmap_handle)
        DeleteObject(bitmap_handle);
}

} // namespace qm::win32
