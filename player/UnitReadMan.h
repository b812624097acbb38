#pragma once

// TReadMan: the player's only access to a recording file.
//
// It reads and validates the header, walks the records once into the record index and
// the key-frame index, keeps the file open for the payload reads that playback needs, owns
// the video decoder channel, and writes the header back at Close after ReplaceHeader.
//
// Threads: Open, Close, ReplaceHeader and every payload read and decode run on the main
// thread; the playback worker only calls GetRecordInfo and Count while a recording plays
// (the engine stops playback before it opens another recording). CancelScan may be set
// from any thread.
//
// Failures answer false, none, 0 or -1. Only DecodeFromKeyFrame and TotalTime raise, with
// EListOutOfRange, for an index out of range and an empty index respectively.

#include "Bitmap24.h"
#include "RecordingFormat.h"
#include "UnitKeyRecordInfoList.h"
#include "UnitRecordInfoList.h"
#include "VDecoder.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qrv {

class TReadMan {
public:
    // `library` decodes the video frames; tests give their own.
    explicit TReadMan(const TVideoCodecLibrary& library = ZentroLibrary());
    ~TReadMan();
    TReadMan(const TReadMan&) = delete;
    TReadMan& operator=(const TReadMan&) = delete;

    // Reads the header of any file without opening it for playback. `header` is all zero
    // unless the file starts with "QRV.", has version 2 or 3 and its header passes the
    // validity test. Of the short strings only the meaningful characters are copied (the
    // password's length byte capped at 50); the rest stays zero. Answers false only when the
    // file exists but cannot be opened for reading.
    static bool ReadHeader(const std::string& fileName, RecordingHeader& header);
    static bool IsValidHeader(const RecordingHeader& header) { return qrv::IsValidHeader(header); }

    // Closes the open recording, then opens, validates and scans `fileName` and prepares the
    // decoder channel. True when the recording is ready to play.
    bool Open(const std::string& fileName);
    // Writes the header back when it was replaced (only into the same file, still holding its
    // magic), releases the file and forgets header and name. The decoder channel stays.
    void Close();
    // Rebuilds both indexes from the open file. Always true.
    bool Scan();

    int32_t Count() const { return m_records.Count(); }
    // Copies the view of entry `index`; leaves `view` unchanged for an index out of range.
    void GetRecordInfo(int32_t index, TRecordInfoView& view) const;

    // Decodes one video record on the channel's current state; none when it gives no picture.
    std::unique_ptr<TBitmap24> DecodeVideoFrame(int32_t index);
    // Feeds the channel every video record from the nearest key frame before `index`, then
    // decodes `index`.
    std::unique_ptr<TBitmap24> DecodeFromKeyFrame(int32_t index);
    // Decodes a picture record's JPEG at its full size.
    std::unique_ptr<TBitmap24> ReadPicture(int32_t index);
    // The payload of an audio record: one audio packet.
    std::optional<std::vector<uint8_t>> ReadAudioPayload(int32_t index);

    // The nearest video record from `start`, searching backwards or forwards; -1 when none.
    // Backwards, index 0 is not examined: a search that reaches it answers 0.
    int32_t FindVideoRecord(bool backwards, int32_t start) const;
    // Play time of the last record: the length of the recording in ms.
    uint32_t TotalTime() const;

    void CreateDecoder(int32_t width, int32_t height);
    void FreeDecoder();
    // Takes a complete header to be written into the file at Close.
    void ReplaceHeader(const RecordingHeader& header);

    bool IsOpen() const { return m_isOpen; }
    bool HasDecoder() const { return m_decoder != nullptr; }
    const RecordingHeader& Header() const { return m_header; }
    const std::string& FileName() const { return m_fileName; }
    bool HeaderModified() const { return m_headerModified; }
    const TVDecoder* Decoder() const { return m_decoder.get(); }
    const TKeyRecordInfoList& KeyRecords() const { return m_keys; }

    // When set, a running scan stops before its next record.
    std::atomic<bool> CancelScan{false};

    // The most bytes a payload read asks for. A corrupt size beyond it gives no payload.
    static constexpr uint32_t MaxPayloadBytes = 64u << 20;
    // Bytes of a record cut short by the end of the file read as zeros, up to this many, so
    // that a cut audio packet is still handed on whole.
    static constexpr uint32_t MaxZeroFillBytes = 64u << 10;

private:
    const TRecordInfo* Entry(int32_t index) const; // none when out of range
    std::optional<std::vector<uint8_t>> ReadPayload(const TRecordInfo& entry) const;
    void EnsureDecoder(int32_t width, int32_t height);

    const TVideoCodecLibrary& m_library;
    TRecordInfoList m_records;
    TKeyRecordInfoList m_keys;
    bool m_isOpen = false;
    int m_fd = -1;
    uint64_t m_fileSize = 0; // as the last scan found it
    dev_t m_device = 0; // identity of the open file, checked before writing the header back
    ino_t m_inode = 0;
    RecordingHeader m_header{};
    std::unique_ptr<TVDecoder> m_decoder;
    std::string m_fileName;
    bool m_headerModified = false;
};

} // namespace qrv
