/* A video-hook plug-in for the tests. Each entry is configured with one digit and appends it
 * to the first byte of every picture (value * 10 + digit), so the order of the hooks shows.
 * "fail" as the argument makes Configure refuse. Counters live in the module, so two entries
 * that share one module share them. */
#include <stdlib.h>
#include <string.h>

#include "FFMPEG/binding/video_hook_api.h"

typedef struct Hook {
    int digit;
} Hook;

static int configure_calls;
static int release_calls;
static int process_calls;

int Configure(void** context, int argc, char* argv[]) {
    ++configure_calls;
    if (argc > 1 && strcmp(argv[1], "fail") == 0)
        return 1;
    Hook* hook = calloc(1, sizeof *hook);
    if (hook == NULL)
        return 1;
    hook->digit = argc > 1 ? atoi(argv[1]) : 0;
    *context = hook;
    return 0;
}

void Process(void* context, CwHookPicture* picture, int pixel_format, int width, int height,
             int64_t pts) {
    (void)pixel_format;
    (void)width;
    (void)height;
    (void)pts;
    const Hook* hook = context;
    ++process_calls;
    picture->data[0][0] = (uint8_t)(picture->data[0][0] * 10 + hook->digit);
}

void Release(void* context) {
    ++release_calls;
    free(context);
}

int HookPluginConfigureCalls(void) {
    return configure_calls;
}
int HookPluginReleaseCalls(void) {
    return release_calls;
}

int HookPluginProcessCalls(void) {
    return process_calls;
}
