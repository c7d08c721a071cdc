// Binding of the MagickCore functions (see CommonSharedLibrary).
#include "MSMagickLibrary.h"

#include <iterator>

#include "CommonSharedLibrary.h"

namespace {

#define ML_MAGICK_TEXT(x) #x
#define ML_MAGICK_SONAME(lib, interface) "lib" lib ".so." ML_MAGICK_TEXT(interface)

// The library's name comes from its pkg-config file, the interface number
// from the headers the program was built with.
constexpr const char *kSonames[] = {ML_MAGICK_SONAME(ML_MAGICKCORE_LIBRARY, MagickLibInterface)};

MagickLibrary g_library;

bool bind_all(void *handle) {
  MagickLibrary &l = g_library;
  const auto bind = [handle](const char *name, auto *fn) { return shared_library_bind(handle, name, fn); };
  return bind("AcquireExceptionInfo", &l.acquire_exception_info) &&
         bind("DestroyExceptionInfo", &l.destroy_exception_info) && bind("CloneImageInfo", &l.clone_image_info) &&
         bind("DestroyImageInfo", &l.destroy_image_info) && bind("PingBlob", &l.ping_blob) &&
         bind("DestroyImageList", &l.destroy_image_list) && bind("GetImageListLength", &l.get_image_list_length) &&
         bind("GetImageProperty", &l.get_image_property);
}

SharedLibrary g_shared{kSonames, std::size(kSonames), bind_all, nullptr, "MSImage",
                       "Could not load the MagickCore library: %s"};

}  // namespace

const MagickLibrary *magick_library() { return shared_library_load(g_shared) ? &g_library : nullptr; }
