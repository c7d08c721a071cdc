// CommonAlbumArt: the fixed file names that hold a music folder's album art,
// in order of preference, each large picture with its small companion where
// one exists. Shared by the scan's album-art discovery and by thumbnails.
// Header only; constant data, safe from any thread.
#pragma once

struct AlbumArtNames {
  const char *large;
  const char *small;  // null: no small companion
};

inline constexpr AlbumArtNames ALBUM_ART_FIXED_NAMES[] = {
    {"folder.jpg", "albumartsmall.jpg"},
    {"folder.gif", "albumartsmall.gif"},
    {"cover.jpg", nullptr},
    {"album.jpg", nullptr},
    {"album.gif", nullptr},
    {"thumb.jpg", nullptr},
    {"thumb.gif", nullptr},
};
