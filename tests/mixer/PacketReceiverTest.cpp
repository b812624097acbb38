#include "PacketReceiver.h"
#include "PacketReceiverFakes.h"
#include "SpeexTestSignal.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <random>

using namespace qrv;
using namespace qrv::test;

namespace {

using Bytes = std::vector<uint8_t>;
using Events = std::vector<std::string>;

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

// A receiver past its first-second discard, on codec type 3 with a started mixer, fed
// through a fake socket.
struct ReceiverFixture {
    ReceiverEvents Events;
    FakeChannelMixer Mixer{Events};
    EchoDecoder Decoder{Events};
    FakeLog Log{Events};
    uint32_t Now = 500;
    TPacketReceiver Receiver{RecordingServices(Events, Mixer, Decoder, Log, Now), /*playerWnd=*/77, /*codec=*/3};
    std::deque<uint8_t> Socket;

    explicit ReceiverFixture(bool accepting = true)
    {
        if (accepting) {
            Arrive({0x00});
            Receiver.DeferStartTimerFired();
            Events.List.clear();
        }
    }

    // `bytes` arrive on the socket and the read event runs.
    TReadOutcome Arrive(const Bytes& bytes)
    {
        Socket.insert(Socket.end(), bytes.begin(), bytes.end());
        return Receiver.ReadEvent(Socket.size(), [this](uint8_t* into, size_t max) {
            size_t n = 0;
            for (; n < max && !Socket.empty(); ++n) {
                into[n] = Socket.front();
                Socket.pop_front();
            }
            return n;
        });
    }
};

// Two ordinary data packets and what each yields.
const Bytes P1 = BuildPacket({.SyncTag = 11, .SyncTime = 1000, .ChannelID = 1, .UserData = 5,
                              .Frames = {{0xA1, 0xA2}, {0xA3}}});
const Events P1Events = {"pcm 1 [a1 a2]", "post 24024 1000 5", "pcm 1 [a3]", "post 24024 1000 5", "sync 1000 11 500"};
const Bytes P2 = BuildPacket({.SyncTag = 12, .SyncTime = 1060, .ChannelID = 2, .UserData = 6, .Frames = {{0xB1}}});
const Events P2Events = {"pcm 2 [b1]", "post 24024 1060 6", "sync 1060 12 500"};

Events Join(std::initializer_list<Events> parts)
{
    Events all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Command(uint8_t codec, uint8_t command, uint8_t channel = 1, Bytes payload = {})
{
    return BuildPacket({.Marker = AudioCommandMarker, .AudioCodec = codec, .ChannelID = channel,
                        .PacketCount = command, .RawPayload = std::move(payload)});
}

} // namespace

TEST(PacketReceiver, StreamRules)
{
    const Bytes fillTo8192 = [] {
        // A 0xF1 header with DataSize 0, then P1, then an ignored packet (codec 5) filling
        // the read to exactly 8192 bytes.
        const Bytes empty = BuildPacket({.DataSize = 0});
        const size_t fill = 8192 - empty.size() - P1.size() - AudioHeaderSize;
        return Cat({empty, P1, BuildPacket({.AudioCodec = 5, .RawPayload = Bytes(fill, 0x33)})});
    }();
    const Bytes validThen8192 = Cat({P1, Bytes(8192 - P1.size(), 0xF1)});

    struct Case {
        const char* name;
        std::vector<Bytes> reads;
        Events expected;
        size_t streamAfter = 0;
        std::function<void(ReceiverFixture&)> setup = {};
    } cases[] = {
        {"two packets in one read", {Cat({P1, P2})}, Join({P1Events, P2Events})},
        {"one packet over three reads", {Slice(P1, 0, 5), Slice(P1, 5, 17), Slice(P1, 17, P1.size())}, P1Events},
        {"a header not yet complete waits", {Slice(P1, 0, 15)}, {}, 15},
        {"a payload not yet complete waits", {Slice(P1, 0, P1.size() - 1)}, {}, P1.size() - 1},
        {"marker 0x00 discards itself and everything behind it; the next read starts afresh",
         {Cat({P1, Bytes(16, 0x00), P2}), P2},
         Join({P1Events, {"log Header is invalid.", "debug [CXMIXER] Header is invalid."}, P2Events})},
        {"PacketCount 51 discards it and everything behind it",
         {Cat({BuildPacket({.PacketCount = 51, .Frames = {{0x01}}}), P2})},
         {"log PacketCount invalid."}},
        {"8192 bytes waiting are taken in and found too many",
         {validThen8192},
         {"debug [CXMIXER] Stream size invalid.", "log Stream size invalid."}},
        {"8192 bytes waiting behind an empty data header are processed", {fillTo8192}, P1Events},
        {"8193 bytes waiting are discarded unread",
         {Cat({P1, Bytes(8193 - P1.size(), 0x00)})},
         {"debug [CXMixer] RcvSize > MAX_RECEIVE_BUFFER_SIZE"}},
        {"DataSize 8192 is a stream error",
         {BuildPacket({.DataSize = 8192})},
         {"debug [CXMIXER] DataSize invalid.", "log DataSize invalid."}},
        {"DataSize 0 is dropped without a codec switch or timing entry",
         {Cat({BuildPacket({.AudioCodec = 4, .DataSize = 0}), P2})},
         P2Events},
        {"PacketCount 0 queues a timing entry only",
         {BuildPacket({.SyncTag = 3, .SyncTime = 40, .PacketCount = 0, .RawPayload = {9, 9, 9}})},
         {"sync 40 3 500"}},
        {"codec 1 data is consumed without sound or feedback",
         {Cat({BuildPacket({.AudioCodec = 1, .RawPayload = Bytes(100, 0x07)}), P2})},
         P2Events},
        {"codec 5 data is ignored", {Cat({BuildPacket({.AudioCodec = 5, .Frames = {{0x01}}}), P2})}, P2Events},
        {"codec 1 commands are not obeyed", {Cat({Command(1, 2), Command(1, 4, 9), P2})}, P2Events},
        {"codec 4 command switches to type 4 first, then command 1 finds it started",
         {Command(4, 1)},
         {"stop", "mode 2", "in 32000", "out 32000", "start", "debug [CXMIXER] Codec Change : AudioCodec=4"}},
        {"command 2 then command 1 restarts the mixer for new data",
         {Cat({Command(3, 2), Command(3, 1), P2})},
         Join({{"clear", "start"}, P2Events})},
        {"command 2 while stopped and command 1 while started do nothing",
         {Cat({Command(3, 1), Command(3, 2), Command(3, 2)})},
         {"clear"}},
        {"command 4 stops the channel",
         {Command(3, 4, 9)},
         {"debug [CXMIXER] CXCommand Stop Channel=9", "stopch 9"}},
        {"other commands are reported and their payload consumed",
         {Cat({Command(3, 7, 1, Bytes(20, 0xE1)), P2})},
         Join({{"debug [CXMIXER] CXCommand UnRegistered=7"}, P2Events})},
        {"channel 0 plays nothing but still gives its feedback",
         {BuildPacket({.SyncTag = 1, .SyncTime = 2, .ChannelID = 0, .UserData = 3, .Frames = {{0x01}, {}, {0x02}}})},
         {"debug [CXMIXER] Decode Fail - Channel : 0", "post 24024 2 3", "post 24024 2 3",
          "debug [CXMIXER] Decode Fail - Channel : 0", "post 24024 2 3", "sync 2 1 500"}},
        {"an empty frame is not decoded but counts",
         {BuildPacket({.SyncTime = 8, .UserData = 9, .Frames = {{}, {0xC1}}})},
         {"post 24024 8 9", "pcm 1 [c1]", "post 24024 8 9", "sync 8 0 500"}},
        {"frames claiming more than DataSize stop at the payload's end",
         {Cat({BuildPacket({.SyncTime = 5, .PacketCount = 3, .UserData = 6,
                            .RawPayload = {2, 0xAA, 0xBB, 10, 0xCC, 0xDD}}),
               P2})},
         Join({{"pcm 1 [aa bb]", "post 24024 5 6", "debug [CXMIXER] Frame beyond DataSize - Channel : 1", "sync 5 0 500"},
               P2Events})},
        {"a missing length byte ends the packet",
         {BuildPacket({.SyncTime = 5, .PacketCount = 2, .UserData = 6, .RawPayload = {1, 0xAA}})},
         {"pcm 1 [aa]", "post 24024 5 6", "debug [CXMIXER] Frame beyond DataSize - Channel : 1", "sync 5 0 500"}},
        {"data of another Speex type switches the codec before decoding",
         {BuildPacket({.AudioCodec = 2, .SyncTime = 1, .Frames = {{0x11}}})},
         {"stop", "mode 0", "in 8000", "out 8000", "start", "debug [CXMIXER] Codec Change : AudioCodec=2",
          "pcm 1 [11]", "post 24024 1 0", "sync 1 0 500"}},
        {"a mixer that cannot start empties the stream and is logged",
         {Cat({BuildPacket({.AudioCodec = 2, .Frames = {{0x11}}}), P2})},
         {"stop", "mode 0", "in 8000", "out 8000", "start", "debug [CXMixer] CreatePrimaryBuffer Failed.",
          "log Error : Play CreatePrimaryBuffer Failed."},
         0,
         [](ReceiverFixture& f) { f.Mixer.StartThrows = "CreatePrimaryBuffer Failed."; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReceiverFixture f;
        if (c.setup)
            c.setup(f);
        for (const auto& read : c.reads)
            f.Arrive(read);
        EXPECT_EQ(f.Events.List, c.expected);
        EXPECT_EQ(f.Receiver.StreamSize(), c.streamAfter);
        EXPECT_TRUE(f.Socket.empty()) << "every read event takes or discards all that waits";
    }
}

TEST(PacketReceiver, FirstSecondAfterConnectingIsDiscarded)
{
    ReceiverFixture f(/*accepting=*/false);
    EXPECT_EQ(f.Arrive(Cat({P1, P2})), TReadOutcome::DeferStarted);
    EXPECT_EQ(f.Arrive(P1), TReadOutcome::NotAccepting);
    EXPECT_EQ(f.Events.List, (Events{"debug [CXMixer] Defer Start Timer Enabled...", "debug [CXMixer] AcceptPacket = False"}));
    EXPECT_TRUE(f.Socket.empty());
    EXPECT_EQ(f.Receiver.StreamSize(), 0u);

    f.Events.List.clear();
    f.Receiver.DeferStartTimerFired();
    EXPECT_EQ(f.Arrive(P2), TReadOutcome::Processed);
    EXPECT_EQ(f.Events.List, P2Events);
    EXPECT_EQ(f.Arrive(Bytes(8193, 0xF1)), TReadOutcome::TooMuchWaiting);
}

// However a stream is cut into reads, the receiver does the same as with one read.
TEST(PacketReceiver, ReadSplitsDoNotChangeTheOutcome)
{
    const Bytes stream = Cat({P1, Command(3, 7), BuildPacket({.DataSize = 0}), P2,
                              BuildPacket({.AudioCodec = 1, .RawPayload = Bytes(40, 1)}), P1});
    ReceiverFixture whole;
    whole.Arrive(stream);
    for (size_t a = 1; a < stream.size(); ++a) {
        for (size_t b : {a, (a + stream.size()) / 2, stream.size() - 1}) {
            if (b < a)
                continue;
            SCOPED_TRACE(testing::Message() << "cut at " << a << " and " << b);
            ReceiverFixture split;
            split.Arrive(Slice(stream, 0, a));
            if (b > a)
                split.Arrive(Slice(stream, a, b));
            split.Arrive(Slice(stream, b, stream.size()));
            ASSERT_EQ(split.Events.List, whole.Events.List);
        }
    }
}

// Whatever arrives, the bytes kept between read events stay below 8192, and never more
// than 8192 + one read are held at once.
TEST(PacketReceiver, StreamMemoryStaysBounded)
{
    std::mt19937 random(1234);
    ReceiverFixture f;
    for (int i = 0; i < 3000; ++i) {
        Bytes chunk(random() % 8193);
        // Mostly plausible headers with large sizes, so that partial packets pile up.
        for (size_t at = 0; at < chunk.size(); ++at)
            chunk[at] = static_cast<uint8_t>(random());
        if (chunk.size() >= 4) {
            chunk[0] = AudioDataMarker;
            chunk[2] = static_cast<uint8_t>(random());
            chunk[3] = static_cast<uint8_t>(random() % 0x20);
        }
        f.Arrive(chunk);
        ASSERT_LT(f.Receiver.StreamSize(), 8192u);
        ASSERT_LE(f.Receiver.StreamCapacityUsed(), 8192u);
        f.Events.List.clear();
    }
}

TEST(PacketReceiver, SpeexFramesReachTheirChannelDecodedAtTheCurrentType)
{
    ReceiverEvents events;
    FakeChannelMixer mixer(events);
    FakeLog log(events);
    TSpeexDecoderManager decoders;
    decoders.SetSpeexMode(1);
    uint32_t now = 0;
    TPacketReceiver receiver(RecordingServices(events, mixer, decoders, log, now), 77, 3);
    receiver.DeferStartTimerFired();

    const auto wideband = EncodeToneFrames(1, 3);
    const auto ultra = EncodeToneFrames(2, 2);
    receiver.Receive(BuildPacket({.ChannelID = 7, .Frames = wideband}));
    receiver.Receive(BuildPacket({.AudioCodec = 4, .ChannelID = 7, .Frames = {ultra[0]}}));
    receiver.Receive(BuildPacket({.AudioCodec = 4, .ChannelID = 8, .Frames = {ultra[1]}}));

    std::vector<std::string> written;
    for (const auto& event : events.List)
        if (event.rfind("pcm ", 0) == 0)
            written.push_back(event.substr(0, event.find(' ', 4)) + " " +
                              std::to_string((event.size() - event.find('[') - 1) / 3));
    // Channel 7 keeps its wideband decoder after the switch; channel 8 is new and
    // ultra-wideband.
    EXPECT_EQ(written, (Events{"pcm 7 640", "pcm 7 640", "pcm 7 640", "pcm 7 640", "pcm 8 1280"}));
}

TEST(MixerArguments, ReadsHandleCodecAndPortWithTheirDefaults)
{
    struct Case {
        std::vector<std::string> args;
        int32_t wnd, codec, port;
    } cases[] = {
        {{"1234", "3", "799"}, 1234, 3, 799},
        {{"-1", "2", "40000"}, -1, 2, 40000},
        {{"abc", "x", "y"}, -1, 3, 803},
        {{"12a", "", "+5"}, -1, 3, 5},
        {{"2147483647", "9", "0"}, 2147483647, 9, 0},
        {{"2147483648", "4", "-7"}, -1, 4, -7},
        {{"5", "3", "799", "extra"}, 5, 3, 799},
        {{"5", "3"}, -1, 3, 0},
        {{}, -1, 3, 0},
        {{" 5", "+-3", "7 "}, -1, 3, 803},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const TMixerArguments parsed = ParseMixerArguments(c.args);
        EXPECT_EQ(parsed.PlayerWnd, c.wnd);
        EXPECT_EQ(parsed.AudioCodec, c.codec);
        EXPECT_EQ(parsed.Port, c.port);
    }
}

TEST(PacketReceiver, SelectCodecFormatsKeepsTheFormatsForUnknownTypes)
{
    ReceiverFixture f;
    // Before any selection the formats are the design-time pair: nothing the mixer plays.
    EXPECT_EQ(f.Receiver.CurrentFormats().Output.Format.wFormatTag, 0x0055);
    EXPECT_EQ(f.Receiver.SelectCodecFormats(5), 1);
    EXPECT_EQ(f.Receiver.CurrentFormats().Output.Format.wFormatTag, 0x0055);
    EXPECT_EQ(f.Receiver.SelectCodecFormats(4), 0);
    EXPECT_EQ(f.Receiver.CurrentFormats().Output.Format.nSamplesPerSec, 32000u);
    EXPECT_EQ(f.Receiver.SelectCodecFormats(-1), 1);
    EXPECT_EQ(f.Receiver.CurrentFormats().Output.Format.nSamplesPerSec, 32000u);
}
