// The text -H prints. The options that only scripts and the media server use
// (-D, -K, -X, -Y, -N, -C) are documented in the README instead.
#include "Options.h"

const char *const SHARECTL_USAGE =
    "Usage: sharectl [options] <folder/file/URL> ...\n"
    "\n"
    "Run from the media server's installation folder. Options are carried out\n"
    "in the order given; -T and -G apply to the next share option only.\n"
    "\n"
    "  -S, --share <path>      share a folder or file for audio, video and images\n"
    "  -A, --audurl <url>      share an audio URL\n"
    "  -I, --imgurl <url>      share an image URL\n"
    "  -V, --vidurl <url>      share a video URL\n"
    "  -B, --audfeed <url>     share an internet audio feed\n"
    "  -J, --imgfeed <url>     share an internet image feed\n"
    "  -W, --vidfeed <url>     share an internet video feed\n"
    "  -T, --title <title>     title for the next share\n"
    "  -G, --tags <tags>       comma-separated tags for the next share\n"
    "  -U, --unshare <source>  remove a shared folder, file or URL and its media\n"
    "  -L, --list              list the shared media sources\n"
    "  -R, --refresh           refresh all media sources\n"
    "  -H, --help              print this text\n"
    "\n"
    "Plain arguments without any option are folders or files to share for all\n"
    "media kinds. Use absolute path names.\n";
