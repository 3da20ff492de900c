/* The floor of a key-frame listing built on FFmpeg: one pass of libavformat's
 * demuxer over the file, keeping the first video stream's packets and
 * counting them and its key-flagged ones, with nothing else done. Prints
 * "N packets, K key". */
#include <libavformat/avformat.h>
#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: read_floor FILE\n");
        return 2;
    }
    AVFormatContext* format = NULL;
    if (avformat_open_input(&format, argv[1], NULL, NULL) < 0) return 1;
    const int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, NULL, 0);
    if (video < 0) return 1;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if ((int)i != video) format->streams[i]->discard = AVDISCARD_ALL;
    AVPacket* packet = av_packet_alloc();
    long packets = 0, keys = 0;
    while (packet && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == video) {
            ++packets;
            keys += (packet->flags & AV_PKT_FLAG_KEY) != 0;
        }
        av_packet_unref(packet);
    }
    printf("%ld packets, %ld key\n", packets, keys);
    av_packet_free(&packet);
    avformat_close_input(&format);
    return 0;
}
