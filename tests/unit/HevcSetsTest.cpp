// HEVC pictures encoded into a copied stream: their parameter sets and slices
// renumbered to ids the source leaves free must decode exactly as before,
// and the stream description must carry both streams' sets.
#include <gtest/gtest.h>

#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/md5.h>
}

#include "media/PictureReencoder.h"
#include "media/X265Setup.h"
#include "output/HevcParameterSetIds.h"
#include "output/HevcRecord.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Encoded {
    Bytes sets;                  // Annex B
    std::vector<Bytes> packets;  // Annex B
};

// A few pictures of a moving gradient from libx265, set up as for a cut.
Encoded EncodeGradient(int pictures) {
    AVCodecParameters* source = avcodec_parameters_alloc();
    source->codec_id = AV_CODEC_ID_HEVC;
    source->width = 64;
    source->height = 64;
    source->format = AV_PIX_FMT_YUV420P;
    source->profile = FF_PROFILE_HEVC_MAIN;
    std::string problem;
    AVCodecContext* encoder = kx::OpenX265(kx::EncoderSettings{source, 25, 1, 1, {}, {}}, &problem);
    EXPECT_NE(encoder, nullptr) << problem;
    Encoded out;
    if (!encoder) return out;
    out.sets.assign(encoder->extradata, encoder->extradata + encoder->extradata_size);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    for (int n = 0; n <= pictures; ++n) {
        if (n < pictures) {
            frame->width = frame->height = 64;
            frame->format = AV_PIX_FMT_YUV420P;
            av_frame_get_buffer(frame, 0);
            for (int plane = 0; plane < 3; ++plane)
                for (int y = 0; y < (plane ? 32 : 64); ++y)
                    for (int x = 0; x < (plane ? 32 : 64); ++x)
                        frame->data[plane][y * frame->linesize[plane] + x] = static_cast<uint8_t>(x * 3 + y + n * 7);
            frame->pts = n * 400'000;
        }
        avcodec_send_frame(encoder, n < pictures ? frame : nullptr);
        av_frame_unref(frame);
        while (avcodec_receive_packet(encoder, packet) >= 0) {
            out.packets.emplace_back(packet->data, packet->data + packet->size);
            av_packet_unref(packet);
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&encoder);
    avcodec_parameters_free(&source);
    return out;
}

// The MD5 of each decoded picture's luma, the sets given as extradata.
std::vector<std::string> DecodedHashes(const Bytes& sets, const std::vector<Bytes>& packets) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_HEVC);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    decoder->extradata = static_cast<uint8_t*>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(sets.begin(), sets.end(), decoder->extradata);
    decoder->extradata_size = static_cast<int>(sets.size());
    std::vector<std::string> hashes;
    if (avcodec_open2(decoder, codec, nullptr) < 0) return hashes;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    for (size_t n = 0; n <= packets.size(); ++n) {
        if (n < packets.size()) {
            av_new_packet(packet, static_cast<int>(packets[n].size()));
            std::copy(packets[n].begin(), packets[n].end(), packet->data);
        }
        avcodec_send_packet(decoder, n < packets.size() ? packet : nullptr);
        av_packet_unref(packet);
        while (avcodec_receive_frame(decoder, frame) >= 0) {
            uint8_t digest[16];
            AVMD5* md5 = av_md5_alloc();
            av_md5_init(md5);
            for (int y = 0; y < frame->height; ++y) av_md5_update(md5, frame->data[0] + y * frame->linesize[0], 64);
            av_md5_final(md5, digest);
            av_free(md5);
            hashes.emplace_back(reinterpret_cast<char*>(digest), sizeof digest);
            av_frame_unref(frame);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    return hashes;
}

TEST(HevcSetsTest, RenumberedPicturesDecodeAsTheEncoderMadeThem) {
    const Encoded encoded = EncodeGradient(4);
    ASSERT_EQ(encoded.packets.size(), 4u);
    const std::vector<std::string> want = DecodedHashes(encoded.sets, encoded.packets);
    ASSERT_EQ(want.size(), 4u);
    const struct {
        const char* what;
        kx::HevcSetIds ids;
    } cases[] = {
        {"the first free ids", {1, 1, 15, std::nullopt}},
        {"the last ids", {15, 15, 30, std::nullopt}},
        {"reordering raised", {2, 3, 20, kx::HevcReordering{4, 2, 5}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes sets = kx::RenumberHevcAnnexB(encoded.sets.data(), encoded.sets.size(), c.ids);
        kx::HevcParameterSetIds ids;
        kx::CollectHevcExtradataIds(sets.data(), sets.size(), &ids);
        EXPECT_TRUE(ids.vps.test(c.ids.vps) && ids.sps.test(c.ids.sps) && ids.pps.test(c.ids.pps));
        EXPECT_EQ(ids.vps.count() + ids.sps.count() + ids.pps.count(), 3u);
        if (c.ids.reordering) {
            EXPECT_EQ(kx::HevcReorderingOfExtradata(sets.data(), sets.size())->numReorderPics, 2u);
        }
        std::vector<Bytes> packets;
        for (const Bytes& p : encoded.packets) packets.push_back(kx::RenumberHevcAnnexB(p.data(), p.size(), c.ids));
        EXPECT_EQ(DecodedHashes(sets, packets), want);
    }
    // A PPS id whose code is not a whole number of bytes longer would shift the slice data.
    const Bytes& first = encoded.packets.front();
    EXPECT_TRUE(kx::RenumberHevcAnnexB(first.data(), first.size(), {1, 1, 2, std::nullopt}).empty());
}

TEST(HevcSetsTest, RecordTakesTheEncodedPicturesSets) {
    const Encoded encoded = EncodeGradient(1);
    const Bytes added = kx::RenumberHevcAnnexB(encoded.sets.data(), encoded.sets.size(), {1, 1, 15, std::nullopt});
    // A record of the encoder's own sets, then one without its PPS array.
    Bytes full(23, 0);  // no arrays yet
    full[0] = 1;
    full = kx::AppendToHvcCRecord(full.data(), full.size(), encoded.sets.data(), encoded.sets.size());
    ASSERT_EQ(full.size() > 23 ? full[22] : 0, 3);  // VPS, SPS and PPS arrays
    Bytes noPps(23, 0);
    noPps[0] = 1;
    size_t ppsAt = encoded.sets.size() - 4;  // the last start code: the PPS's
    while (ppsAt > 0 && !(encoded.sets[ppsAt] == 0 && encoded.sets[ppsAt + 1] == 0 && encoded.sets[ppsAt + 2] == 1))
        --ppsAt;
    noPps = kx::AppendToHvcCRecord(noPps.data(), noPps.size(), encoded.sets.data(), ppsAt);
    const struct {
        const char* what;
        Bytes record;
        size_t arrays;
    } cases[] = {{"every array there", full, 3}, {"the PPS array made", noPps, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes joined = kx::AppendToHvcCRecord(c.record.data(), c.record.size(), added.data(), added.size());
        ASSERT_GT(joined.size(), 22u);
        EXPECT_EQ(joined[22], c.arrays);
        kx::HevcParameterSetIds ids;
        kx::CollectHevcExtradataIds(joined.data(), joined.size(), &ids);
        EXPECT_TRUE(ids.pps.test(15) && ids.sps.test(1) && ids.vps.test(1));
        EXPECT_TRUE(ids.sps.test(0) && ids.vps.test(0));
    }
    // A record whose arrays run past its end takes nothing.
    Bytes cut(full.begin(), full.end() - 3);
    EXPECT_TRUE(kx::AppendToHvcCRecord(cut.data(), cut.size(), added.data(), added.size()).empty());
}

}  // namespace
