/* The interface a video-hook plug-in exports with C linkage. A plug-in is a shared object named
 * by the "vhook" option; it works in place on every picture of a job's video output. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The picture record: four plane pointers and four line sizes, as the library lays them out. */
typedef struct CwHookPicture {
    uint8_t* data[4];
    int linesize[4];
} CwHookPicture;

/* Optional. Fills *context; 0 means success. argv[0] is the plug-in's file name. */
typedef int (*CwHookConfigure)(void** context, int argc, char* argv[]);
/* Required. Called for every picture, in the job's thread. */
typedef void (*CwHookProcess)(void* context, CwHookPicture* picture, int pixel_format, int width,
                              int height, int64_t pts);
/* Optional. Called once when the job's run ends. */
typedef void (*CwHookRelease)(void* context);

#ifdef __cplusplus
}
#endif
