// Which replies begin as MP3. The headers are those of files that lame 3.100
// made from espeak-ng's Mandarin voice (CBR -b 48 or 32, VBR -V 5, with and
// without --id3v2-only); each piece stands at the offset where that file has it.
#include "service/mp3_stream.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace qx {
namespace {

struct Piece {
    std::size_t at;
    std::string_view bytes;
};

struct Mp3Case {
    const char* name;
    std::size_t size;  // zero bytes wherever no piece stands
    std::vector<Piece> pieces;
    bool mp3;
};

using namespace std::string_view_literals;

TEST(Mp3Stream, BeginsAsLayerThreeFramesOrId3v2ThenFrames) {
    const Mp3Case cases[] = {
        // MPEG-1 (FF FB) 44.1 kHz 48 kbit/s: 156 bytes, the next frame padded to 157
        {"Mpeg1At44k1", 600, {{0, "\xFF\xFB\x30\xC4"}, {156, "\xFF\xFB\x32\xC4"}}, true},
        {"Mpeg1At48k", 600, {{0, "\xFF\xFB\x34\xC4"}, {144, "\xFF\xFB\x34\xC4"}}, true},  // 144 bytes
        // 32 kHz: its first frame is lame's Info frame (CBR), 216 bytes
        {"Mpeg1At32kInfoFrame", 600, {{0, "\xFF\xFB\x38\xC4"}, {21, "Info"}, {216, "\xFF\xFB\x38\xC4"}}, true},
        // MPEG-2 (FF F3) 48 kbit/s: 144 bytes at 24 kHz, 156 at 22.05 kHz, 216 at 16 kHz
        {"Mpeg2At24k", 600, {{0, "\xFF\xF3\x64\xC4"}, {144, "\xFF\xF3\x64\xC4"}}, true},
        {"Mpeg2At22k05", 600, {{0, "\xFF\xF3\x60\xC4"}, {156, "\xFF\xF3\x62\xC4"}}, true},
        {"Mpeg2At16kInfoFrame", 600, {{0, "\xFF\xF3\x68\xC4"}, {13, "Info"}, {216, "\xFF\xF3\x68\xC4"}}, true},
        // MPEG-2.5 (FF E3) 8 kHz 48 kbit/s: 432 bytes
        {"Mpeg25At8kInfoFrame", 600, {{0, "\xFF\xE3\x68\xC4"}, {13, "Info"}, {432, "\xFF\xE3\x68\xC4"}}, true},
        // VBR: a Xing frame of 128 kbit/s (417 bytes), then 160 kbit/s; MPEG-2: 64 (208 bytes), then 8
        {"VbrXingFrameMpeg1", 800, {{0, "\xFF\xFB\x90\xC4"}, {21, "Xing"}, {417, "\xFF\xFB\xB0\xC4"}}, true},
        {"VbrXingFrameMpeg2", 600, {{0, "\xFF\xF3\x80\xC4"}, {13, "Xing"}, {208, "\xFF\xF3\x10\xC4"}}, true},
        // --id3v2-only: an ID3v2.3 tag of 87 bytes, then 44.1 kHz 32 kbit/s frames of 104 bytes
        {"Id3v23Tag", 600, {{0, "ID3\x03\0\0\0\0\0\x57"sv}, {97, "\xFF\xFB\x10\xC4"}, {201, "\xFF\xFB\x12\xC4"}}, true},
        // ID3v2.4 with a footer (flag 0x10, "3DI" after 10 + 32 bytes): the frame at 52
        {"Id3v24TagWithFooter", 600,
         {{0, "ID3\x04\0\x10\0\0\0\x20"sv}, {42, "3DI\x04\0\x10\0\0\0\x20"sv}, {52, "\xFF\xFB\x30\xC4"},
          {208, "\xFF\xFB\x30\xC4"}},
         true},
        // zero bytes that the tag's size does not count, up to 130
        {"ZeroPaddingAfterTag", 600,
         {{0, "ID3\x03\0\0\0\0\0\x57"sv}, {130, "\xFF\xFB\x30\xC4"}, {286, "\xFF\xFB\x30\xC4"}}, true},
        // MPEG-1 32 kHz 320 kbit/s: 1440 bytes, longer than the reply
        {"FrameLongerThanTheReply", 500, {{0, "\xFF\xFB\xE8\xC4"}}, true},
        {"OneFrameThenId3v1", 545, {{0, "\xFF\xFB\x90\xC4"}, {417, "TAG"}}, true},  // 417 + 128 bytes
        {"HeaderCutShort", 3, {{0, "\xFF\xFB\x90"}}, false},                       // a header is 4 bytes
        {"Html", 600, {{0, "<!DOCTYPE html><html><body>"}}, false},
        {"Wave", 600, {{0, "RIFF\x24\x10\0\0WAVEfmt "sv}}, false},                  // audio, but not MP3
        {"ReservedVersion", 600, {{0, "\xFF\xEB\x90\xC4"}, {417, "\xFF\xEB\x90\xC4"}}, false},  // version bits 01
        {"LayerTwo", 600, {{0, "\xFF\xFD\x90\xC4"}, {417, "\xFF\xFD\x90\xC4"}}, false},         // layer bits 10
        {"FreeFormatBitRate", 600, {{0, "\xFF\xFB\x00\xC4"}}, false},                          // bit-rate index 0
        {"ReservedSampleRate", 600, {{0, "\xFF\xFB\x9C\xC4"}}, false},                         // sample-rate bits 11
        // a header by chance, then anything but the same stream where the next frame should be
        {"NoFrameAfterTheFirst", 600, {{0, "\xFF\xFB\x90\xC4"}, {417, "abcd"}}, false},
        {"NextFrameAt48kAfter44k1", 600, {{0, "\xFF\xFB\x90\xC4"}, {417, "\xFF\xFB\x94\xC4"}}, false},
        {"TagThenText", 600, {{0, "ID3\x03\0\0\0\0\0\x0A"sv}, {20, "<html>"}}, false},       // a 20-byte tag
        {"TagLongerThanTheReply", 600, {{0, "ID3\x03\0\0\0\0\x10\0"sv}, {97, "\xFF\xFB\x10\xC4"}}, false},  // 2048
    };
    for (const Mp3Case& c : cases) {
        std::vector<std::uint8_t> bytes(c.size);
        for (const Piece& p : c.pieces) std::copy(p.bytes.begin(), p.bytes.end(), bytes.begin() + p.at);
        EXPECT_EQ(beginsAsMp3Stream(bytes), c.mp3) << c.name;
    }
}

}  // namespace
}  // namespace qx
