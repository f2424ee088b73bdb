/* A plug-in with Process only: it takes no arguments. It inverts the first byte. */
#include "FFMPEG/binding/video_hook_api.h"

void Process(void* context, CwHookPicture* picture, int pixel_format, int width, int height,
             int64_t pts) {
    (void)context;
    (void)pixel_format;
    (void)width;
    (void)height;
    (void)pts;
    picture->data[0][0] = (uint8_t)(255 - picture->data[0][0]);
}
