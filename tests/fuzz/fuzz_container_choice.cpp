// The capability table asked the other way round, against an arbitrary table
// file: the extensions ExtensionsTaking names for a codec are exactly those
// whose outputs the capability check accepts for a stream of that codec.
// The first byte picks the codec.
#include <set>
#include <string>

#include <pugixml.hpp>

#include "FuzzSupport.h"
#include "caps/CodecNameTable.h"
#include "caps/ContainerChoice.h"
#include "caps/LosslessCheck.h"
#include "input/DemuxTypes.h"
#include "output/MediaStreamPair.h"
#include "platform/WideString.h"

namespace {

// Video codecs in our numbering: H.264, MPEG-1, HEVC (a row above the
// unmapped base), and one without a table entry.
constexpr int32_t kCodecs[] = {28, 1, KX_CODEC_HEVC, 0x7FFF};

std::string LowerCaseAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kxfuzz::QuietLogs();
    kx::BuildCodecNameTable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (64u << 10)) return 0;
    const std::string path = kxfuzz::ScratchFolder() + "/choice.xml";
    if (!kxfuzz::WriteFile(path, data, size)) return 0;
    const std::u16string table = kx::Utf8ToWide(path);
    const int32_t codec = kCodecs[size > 0 ? data[0] & 3 : 0];

    const auto taking = kx::ExtensionsTaking(table.c_str(), codec);
    const std::set<std::string> named(taking.begin(), taking.end());
    KX_FUZZ_CHECK(named.size() == taking.size());  // each extension once

    // Every extension the table could be asked about: those named, and the
    // names of its entries. Names with a dot, or cut by the check's field,
    // ask about another extension.
    std::set<std::string> asked = named;
    pugi::xml_document document;
    if (document.load_file(path.c_str()))
        for (pugi::xml_node entry : document.child("Quentara_XML").child("OUTPUT_MAP").children()) {
            const std::string name = entry.name();
            if (!name.empty() && name.find('.') == std::string::npos &&
                kx::Utf8ToWide(name).size() < static_cast<size_t>(kx::kFormatQueryNameLength))
                asked.insert("." + LowerCaseAscii(name));
        }

    kx::StreamMediaInfo video;
    video.mediaType = kx::MediaType::kVideo;
    video.codecId = codec;
    kx::MediaStreamPair pair;
    pair.video = &video;
    for (const std::string& extension : asked) {
        const std::u16string output = kx::Utf8ToWide("clip" + extension);
        const bool accepted = kx::CheckMuxerValidWithTable(table.c_str(), output.c_str(), &pair);
        KX_FUZZ_CHECK(accepted == (named.count(extension) == 1));
    }
    return 0;
}
