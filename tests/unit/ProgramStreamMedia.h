// Program streams for the reader tests, made at test time and kept in the
// build folder: one encode into a transport stream (every picture timed),
// remuxed into a program stream (times only where a PES packet has them).
// x264 runs on one thread: its rate control then makes the same pictures on
// every machine, so a test cannot pass or fail by the encode it happened to get.
#pragma once

#include <filesystem>
#include <string>
#include <utility>

#include "TestSupport.h"

namespace pstest {

struct PsCase {
    const char* name;
    const char* encode;  // ffmpeg output options
    int seconds;
};

inline const PsCase kCases[] = {
    {"bframes", "-bf 2 -g 25 -c:a libmp3lame -b:a 128k", 8},
    {"no_bframes", "-bf 0 -g 25 -c:a mp2 -b:a 128k", 8},
    // Key frames far apart, so the order count runs long between them.
    {"long_gop", "-g 250 -keyint_min 250 -sc_threshold 0 -force_key_frames 0,4.4,8.8 -c:a libmp3lame -b:a 128k", 12},
    {"open_gop", "-g 40 -x264-params open-gop=1 -c:a mp2 -b:a 128k", 8},
};

// Frames 25 a second on average, moved back and forth by up to 15 ms: the
// times of pictures the program stream leaves out cannot be known, only
// their order.
inline const PsCase kUneven = {
    "uneven", "-vf 'settb=1/1000,setpts=(N/25+0.015*sin(N))/TB' -fps_mode passthrough -enc_time_base:v 1/1000 "
              "-g 40 -c:a libmp3lame -b:a 128k", 8};

// The case's transport stream and program stream.
inline std::pair<std::string, std::string> Made(const PsCase& c) {
    const std::string folder = std::string(KX_BUILD_DIR) + "/ps_media";
    std::filesystem::create_directories(folder);
    const std::string ts = folder + "/" + c.name + ".ts";
    const std::string ps = folder + "/" + c.name + ".mpg";
    const std::string seconds = std::to_string(c.seconds);
    // Written under a name of its own and then renamed, so that neither an
    // interrupted run nor a test making the same file beside it leaves half a file.
    if (!std::filesystem::exists(ts))
        kxtest::RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=" + seconds +
                           " -f lavfi -i anoisesrc=sample_rate=48000:amplitude=0.3:color=pink:seed=7:duration=" +
                           seconds + " -c:v libx264 -threads 1 -preset veryfast -pix_fmt yuv420p -b:v 300k -ac 2 " +
                           c.encode + " -f mpegts " + ts + ".tmp.$$ && mv " + ts + ".tmp.$$ " + ts);
    if (!std::filesystem::exists(ps))
        kxtest::RunCommand("ffmpeg -nostdin -v error -y -i " + ts + " -c copy -f mpeg " + ps + ".tmp.$$ && mv " + ps +
                           ".tmp.$$ " + ps);
    return {ts, ps};
}

}  // namespace pstest
