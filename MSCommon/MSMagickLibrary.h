// MSMagickLibrary: the MagickCore functions the program calls, bound when
// first needed (see CommonSharedLibrary): MagickCore and the thirty libraries it
// brings cost every start about 9 ms, though only a scan that meets a new
// photo calls it.
#pragma once

#include <magick/MagickCore.h>

struct MagickLibrary {
  decltype(&AcquireExceptionInfo) acquire_exception_info;
  decltype(&DestroyExceptionInfo) destroy_exception_info;
  decltype(&CloneImageInfo) clone_image_info;
  decltype(&DestroyImageInfo) destroy_image_info;
  decltype(&PingBlob) ping_blob;
  decltype(&DestroyImageList) destroy_image_list;
  decltype(&GetImageListLength) get_image_list_length;
  decltype(&GetImageProperty) get_image_property;
};

// The bound functions, loading MagickCore on the first call; null when it
// cannot be loaded (ERROR "Could not load the MagickCore library: %s" on
// "MSImage", logged once).
const MagickLibrary *magick_library();
