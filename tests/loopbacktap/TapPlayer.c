/* A small ALSA player for the capture tests: plays a counting pattern on the
 * null device in the way its mode names, so that every write path and the
 * awkward players (two devices in turn, two threads at once) are driven
 * through the real ALSA library. Each stream plays FRAMES frames of stereo
 * S16 at 48 kHz whose left sample is the frame number plus the stream's base
 * and whose right sample is its negation.
 * In fork mode the player forks half-way and the child exits at once.
 *   tap_player writei|writen|mmap|two|threads|fork [DEVICE] */
#include <alsa/asoundlib.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#define FRAMES 4800
#define BLOCK 480

static const char *device = "null";

static int setup(snd_pcm_t **pcm, snd_pcm_access_t access) {
  snd_pcm_hw_params_t *params;
  if (snd_pcm_open(pcm, device, SND_PCM_STREAM_PLAYBACK, 0) < 0) return -1;
  snd_pcm_hw_params_alloca(&params);
  snd_pcm_hw_params_any(*pcm, params);
  snd_pcm_hw_params_set_access(*pcm, params, access);
  snd_pcm_hw_params_set_format(*pcm, params, SND_PCM_FORMAT_S16_LE);
  snd_pcm_hw_params_set_channels(*pcm, params, 2);
  snd_pcm_hw_params_set_rate(*pcm, params, 48000, 0);
  return snd_pcm_hw_params(*pcm, params);
}

static short sample(int base, int frame, int channel) {
  short left = (short)(base + frame);
  return channel == 0 ? left : (short)-left;
}

static int play_writei(int base, int fork_half_way) {
  snd_pcm_t *pcm;
  short block[BLOCK * 2];
  if (setup(&pcm, SND_PCM_ACCESS_RW_INTERLEAVED) < 0) return 1;
  for (int at = 0; at < FRAMES; at += BLOCK) {
    if (fork_half_way && at == FRAMES / 2) {
      pid_t child = fork();
      if (child == 0) exit(0);
      waitpid(child, NULL, 0);
    }
    for (int f = 0; f < BLOCK; ++f)
      for (int c = 0; c < 2; ++c) block[2 * f + c] = sample(base, at + f, c);
    if (snd_pcm_writei(pcm, block, BLOCK) != BLOCK) return 1;
  }
  snd_pcm_drain(pcm);
  return snd_pcm_close(pcm) < 0;
}

static int play_writen(void) {
  snd_pcm_t *pcm;
  short left[BLOCK], right[BLOCK];
  void *bufs[2] = {left, right};
  if (setup(&pcm, SND_PCM_ACCESS_RW_NONINTERLEAVED) < 0) return 1;
  for (int at = 0; at < FRAMES; at += BLOCK) {
    for (int f = 0; f < BLOCK; ++f) {
      left[f] = sample(0, at + f, 0);
      right[f] = sample(0, at + f, 1);
    }
    if (snd_pcm_writen(pcm, bufs, BLOCK) != BLOCK) return 1;
  }
  snd_pcm_drain(pcm);
  return snd_pcm_close(pcm) < 0;
}

static int play_mmap(void) {
  snd_pcm_t *pcm;
  if (setup(&pcm, SND_PCM_ACCESS_MMAP_INTERLEAVED) < 0) return 1;
  for (int at = 0; at < FRAMES;) {
    const snd_pcm_channel_area_t *areas;
    snd_pcm_uframes_t offset, frames = BLOCK;
    snd_pcm_avail_update(pcm);
    if (snd_pcm_mmap_begin(pcm, &areas, &offset, &frames) < 0) return 1;
    for (snd_pcm_uframes_t f = 0; f < frames; ++f)
      for (int c = 0; c < 2; ++c) {
        char *frame = (char *)areas[c].addr + (areas[c].first + (offset + f) * areas[c].step) / 8;
        short value = sample(0, at + (int)f, c);
        memcpy(frame, &value, sizeof value);
      }
    if (snd_pcm_mmap_commit(pcm, offset, frames) != (snd_pcm_sframes_t)frames) return 1;
    at += (int)frames;
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm);
  }
  snd_pcm_drain(pcm);
  return snd_pcm_close(pcm) < 0;
}

static void *play_thread(void *base) { return (void *)(long)play_writei((int)(long)base, 0); }

static int play_threads(void) {
  pthread_t threads[2];
  void *failed[2];
  for (long i = 0; i < 2; ++i) pthread_create(&threads[i], NULL, play_thread, (void *)(i * 10000));
  for (int i = 0; i < 2; ++i) pthread_join(threads[i], &failed[i]);
  return failed[0] != NULL || failed[1] != NULL;
}

int main(int argc, char **argv) {
  const char *mode = argc > 1 ? argv[1] : "writei";
  if (argc > 2) device = argv[2];
  if (strcmp(mode, "writei") == 0) return play_writei(0, 0);
  if (strcmp(mode, "fork") == 0) return play_writei(0, 1);
  if (strcmp(mode, "writen") == 0) return play_writen();
  if (strcmp(mode, "mmap") == 0) return play_mmap();
  if (strcmp(mode, "two") == 0) return play_writei(0, 0) || play_writei(10000, 0);
  if (strcmp(mode, "threads") == 0) return play_threads();
  return 2;
}
