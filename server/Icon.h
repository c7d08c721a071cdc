// Icon: the device icon players show beside the server's name, drawn in
// code (a play sign on a blue square) and written as a PNG, so that no
// image file has to be installed. Pure function; any thread.
#pragma once

#include <string>

// A size x size PNG image (8-bit RGB, stored deflate blocks).
std::string icon_png(unsigned size);
