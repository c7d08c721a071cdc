// The legacy codec name table and the mapping of ffmpeg's codec ids onto it.
//
// The library stores codec ids and names as the ffmpeg of its first release
// numbered and spelt them. Newer ffmpeg releases renumber codecs, so a current
// id is mapped to the legacy one through the codec's name.
#include <strings.h>

#include <cctype>
#include <cstring>

#include "MSCodecCommon.h"
#include "MSFFMPEGLibrary.h"

namespace {

constexpr const char *kRange0[] = {nullptr,
                                   "MPEG1VIDEO",
                                   "MPEG2VIDEO",
                                   "MPEG2VIDEO_XVMC",
                                   "H261",
                                   "H263",
                                   "RV10",
                                   "RV20",
                                   "MJPEG",
                                   "MJPEGB",
                                   "LJPEG",
                                   "SP5X",
                                   "JPEGLS",
                                   "MPEG4",
                                   "RAWVIDEO",
                                   "MSMPEG4V1",
                                   "MSMPEG4V2",
                                   "MSMPEG4V3",
                                   "WMV1",
                                   "WMV2",
                                   "H263P",
                                   "H263I",
                                   "FLV1",
                                   "SVQ1",
                                   "SVQ3",
                                   "DVVIDEO",
                                   "HUFFYUV",
                                   "CYUV",
                                   "H264",
                                   "INDEO3",
                                   "VP3",
                                   "THEORA",
                                   "ASV1",
                                   "ASV2",
                                   "FFV1",
                                   "4XM",
                                   "VCR1",
                                   "CLJR",
                                   "MDEC",
                                   "ROQ",
                                   "INTERPLAY_VIDEO",
                                   "XAN_WC3",
                                   "XAN_WC4",
                                   "RPZA",
                                   "CINEPAK",
                                   "WS_VQA",
                                   "MSRLE",
                                   "MSVIDEO1",
                                   "IDCIN",
                                   "8BPS",
                                   "SMC",
                                   "FLIC",
                                   "TRUEMOTION1",
                                   "VMDVIDEO",
                                   "MSZH",
                                   "ZLIB",
                                   "QTRLE",
                                   "SNOW",
                                   "TSCC",
                                   "ULTI",
                                   "QDRAW",
                                   "VIXL",
                                   "QPEG",
                                   "XVID",
                                   "PNG",
                                   "PPM",
                                   "PBM",
                                   "PGM",
                                   "PGMYUV",
                                   "PAM",
                                   "FFVHUFF",
                                   "RV30",
                                   "RV40",
                                   "VC1",
                                   "WMV3",
                                   "LOCO",
                                   "WNV1",
                                   "AASC",
                                   "INDEO2",
                                   "FRAPS",
                                   "TRUEMOTION2",
                                   "BMP",
                                   "CSCD",
                                   "MMVIDEO",
                                   "ZMBV",
                                   "AVS",
                                   "SMACKVIDEO",
                                   "NUV",
                                   "KMVC",
                                   "FLASHSV",
                                   "CAVS",
                                   "JPEG2000",
                                   "VMNC",
                                   "VP5",
                                   "VP6",
                                   "VP6F",
                                   "TARGA",
                                   "DSICINVIDEO",
                                   "TIERTEXSEQVIDEO",
                                   "TIFF",
                                   "GIF",
                                   "FFH264",
                                   "DXA",
                                   "DNXHD",
                                   "THP",
                                   "SGI",
                                   "C93",
                                   "BETHSOFTVID",
                                   "PTX",
                                   "TXD",
                                   "VP6A",
                                   "AMV",
                                   "VB",
                                   "PCX",
                                   "SUNRAST",
                                   "INDEO4",
                                   "INDEO5",
                                   "MIMIC",
                                   "RL2",
                                   "8SVX_EXP",
                                   "8SVX_FIB",
                                   "ESCAPE124",
                                   "DIRAC",
                                   "BFI",
                                   "CMV",
                                   "MOTIONPIXELS",
                                   "TGV",
                                   "TGQ",
                                   "TQI",
                                   "AURA",
                                   "AURA2",
                                   "V210X",
                                   "TMV",
                                   "V210",
                                   "DPX",
                                   "MAD",
                                   "FRWU",
                                   "FLASHSV2",
                                   "CDGRAPHICS",
                                   "R210",
                                   "ANM",
                                   "BINKVIDEO",
                                   "IFF_ILBM",
                                   "IFF_BYTERUN1",
                                   "KGV1",
                                   "YOP",
                                   "VP8"};
constexpr const char *kRange10000[] = {"PCM_S16LE",
                                       "PCM_S16BE",
                                       "PCM_U16LE",
                                       "PCM_U16BE",
                                       "PCM_S8",
                                       "PCM_U8",
                                       "PCM_MULAW",
                                       "PCM_ALAW",
                                       "S32LE",
                                       "S32BE",
                                       "U32LE",
                                       "U32BE",
                                       "S24LE",
                                       "S24BE",
                                       "U24LE",
                                       "U24BE",
                                       "S24DAUD",
                                       "PCM_ZORK",
                                       "PCM_S16LE_PLANAR",
                                       "PCM_DVD",
                                       "PCM_F32BE",
                                       "PCM_F32LE",
                                       "PCM_F64BE",
                                       "PCM_F64LE",
                                       "PCM_BLURAY"};
constexpr const char *kRange11000[] = {
    "ADPCM_IMA_QT",      "ADPCM_IMA_WAV",    "ADPCM_IMA_DK3",     "ADPCM_IMA_DK4",
    "ADPCM_IMA_WS",      "ADPCM_IMA_SMJPEG", "ADPCM_MS",          "ADPCM_4XM",
    "ADPCM_XA",          "ADPCM_ADX",        "ADPCM_EA",          "ADPCM_G726",
    "ADPCM_CT",          "ADPCM_SWF",        "ADPCM_YAMAHA",      "ADPCM_SBPRO_4",
    "ADPCM_SBPRO_3",     "ADPCM_SBPRO_2",    "ADPCM_THP",         "ADPCM_IMA_AMV",
    "ADPCM_EA_R1",       "ADPCM_EA_R3",      "ADPCM_EA_R2",       "ADPCM_IMA_EA_SEAD",
    "ADPCM_IMA_EA_EACS", "ADPCM_EA_XAS",     "ADPCM_EA_MAXIS_XA", "ADPCM_IMA_ISS"};
constexpr const char *kRange12000[] = {"AMR_NB", "AMR_WB"};
constexpr const char *kRange13000[] = {"RA_144", "RA_288"};
constexpr const char *kRange14000[] = {"ROQ_DPCM", "INTERPLAY_DPCM", "XAN_DPCM", "SOL_DPCM"};
constexpr const char *kRange15000[] = {"MP2",          "MP3",           "AAC",
                                       "AC3",          "DTS",           "VORBIS",
                                       "DVAUDIO",      "WMAV1",         "WMAV2",
                                       "MACE3",        "MACE6",         "VMDAUDIO",
                                       "SONIC",        "SONIC_LS",      "FLAC",
                                       "MP3ADU",       "MP3ON4",        "SHORTEN",
                                       "ALAC",         "WESTWOOD_SND1", "GSM",
                                       "QDM2",         "COOK",          "TRUESPEECH",
                                       "TTA",          "SMACKAUDIO",    "QCELP",
                                       "WAVPACK",      "DSICINAUDIO",   "IMC",
                                       "MUSEPACK7",    "MLP",           "GSM_MS",
                                       "ATRAC3",       "VOXWARE",       "APE",
                                       "NELLYMOSER",   "MUSEPACK8",     "SPEEX",
                                       "WMAVOICE",     "WMAPRO",        "WMALOSSLESS",
                                       "ATRAC3P",      "EAC3",          "SIPR",
                                       "MP1",          "TWINVQ",        "TRUEHD",
                                       "MP4ALS",       "ATRAC1",        "BINKAUDIO_RDFT",
                                       "BINKAUDIO_DCT"};
constexpr const char *kRange17000[] = {
    "DVD_SUBTITLE", "DVB_SUBTITLE",      "TEXT",        "XSUB", "SSA",
    "MOV_TEXT",     "HDMV_PGS_SUBTITLE", "DVB_TELETEXT"};
constexpr const char *kRange18000[] = {"TTF"};
constexpr const char *kRange19000[] = {"PROBE"};
constexpr const char *kRange20000[] = {"MPEG2TS"};

struct CodecNameRange {
  std::int32_t first_id;
  std::int32_t count;
  const char *const *names;
};

template <std::size_t N>
constexpr CodecNameRange range(std::int32_t first_id, const char *const (&names)[N]) {
  return {first_id, static_cast<std::int32_t>(N), names};
}

constexpr CodecNameRange kRanges[] = {
    range(0x0, kRange0),         range(0x10000, kRange10000), range(0x11000, kRange11000),
    range(0x12000, kRange12000), range(0x13000, kRange13000), range(0x14000, kRange14000),
    range(0x15000, kRange15000), range(0x17000, kRange17000), range(0x18000, kRange18000),
    range(0x19000, kRange19000), range(0x20000, kRange20000),
};

// Codecs whose current name differs from the legacy one.
struct LegacyAlias {
  AVCodecID current;
  std::int32_t legacy;
};
constexpr LegacyAlias kAliases[] = {
    {AV_CODEC_ID_INTERPLAY_VIDEO, 0x28},
    {AV_CODEC_ID_PROBE, 0x19000},
    {AV_CODEC_ID_MPEG2TS, 0x20000},
};

// The legacy name matches ffmpeg's ignoring case; the 24- and 32-bit PCM names
// lost their "pcm_" prefix in the legacy table.
bool same_codec(const char *legacy, const char *current) {
  if (strcasecmp(legacy, current) == 0) return true;
  return strncasecmp(current, "pcm_", 4) == 0 && strcasecmp(legacy, current + 4) == 0;
}

}  // namespace

const char *codec_name_by_id(std::int32_t codec_id) {
  const CodecNameRange *found = &kRanges[0];
  for (const CodecNameRange &r : kRanges) {
    if (r.first_id <= codec_id) found = &r;
  }
  std::int32_t index = codec_id - found->first_id;
  return index >= 0 && index < found->count ? found->names[index] : nullptr;
}

std::int32_t codec_legacy_id(int av_codec_id) {
  if (av_codec_id == AV_CODEC_ID_NONE) return 0;
  for (const LegacyAlias &alias : kAliases) {
    if (alias.current == av_codec_id) return alias.legacy;
  }
  const FFmpegLibrary *av = ffmpeg_library();
  if (av == nullptr) return 0;
  const char *current = av->codec_get_name(static_cast<AVCodecID>(av_codec_id));
  for (const CodecNameRange &r : kRanges) {
    for (std::int32_t i = 0; i < r.count; ++i) {
      if (r.names[i] && same_codec(r.names[i], current)) return r.first_id + i;
    }
  }
  return 0;
}
