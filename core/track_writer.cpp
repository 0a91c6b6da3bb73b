#include "core/track_writer.h"

#include <cstdio>
#include <cstring>

#include "core/wave_file.h"

namespace trackloom {

bool BuildTrackFileName(const char* directory, int32_t track_number, char* out) {
  // "<dir>\VDN Track NN.wav": the file part adds 17 characters, so a directory of
  // more than 242 characters cannot be named in 259.
  const int directory_length =
      std::snprintf(out, kPathCapacity, "%s%c", directory, kDirectorySeparator);
  if (directory_length < 0 || directory_length >= kPathCapacity) return false;
  const int name_length = std::snprintf(out + directory_length, kPathCapacity - directory_length,
                                        kTrackFileNameFormat, static_cast<int>(track_number));
  return name_length > 0 && directory_length + name_length < kPathCapacity;
}

bool OpenNextTrack(InstanceState& state) {
  // One trailing separator comes off the stored setting itself, so later dialogs
  // and script strings show the shortened directory.
  const size_t length = std::strlen(state.output_directory);
  if (length > 0 && state.output_directory[length - 1] == kDirectorySeparator) {
    state.output_directory[length - 1] = '\0';
  }

  char name[kPathCapacity];
  state.output_track = nullptr;
  if (!BuildTrackFileName(state.output_directory, state.track_counter + 1, name)) return false;
  state.output_track = WaveFile::CreateForWrite(name);
  if (state.output_track == nullptr) return false;

  // A track without its whole header and lead-in (a full disk) would be an invalid
  // file: it is removed and the open fails.
  if (!state.output_track->WriteHeader(kTrackSampleRate, kTrackBitsPerSample, kTrackChannels) ||
      !state.output_track->Write(kLeadIn, kLeadInSize)) {
    CloseAndFree(state.output_track);
    WaveFile::Remove(name);
    return false;
  }
  ++state.track_counter;
  return true;
}

bool WriteFrameRecord(InstanceState& state) {
  WaveFile& track = *state.output_track;
  // Both size fields are 32-bit: a record that would take the track past what they
  // can describe is refused, so every track stays a valid file.
  const int64_t start = track.Position();
  if (start < 0) return false;
  if (static_cast<uint64_t>(start) + kFrameRecordSize > kMaxTrackLength) {
    return WaveFile::RecordFailure(WaveFile::kPastSizeFields);
  }

  uint8_t header[kRecordHeaderSize];
  std::memcpy(header, kRecordHeaderTemplate, kRecordHeaderSize);

  if (state.audio_source != nullptr) {
    // A short read (the end of the sound) or a read error gives a silent record.
    if (!state.audio_source->Read(state.audio_chunk, kAudioChunkSize)) {
      std::memset(state.audio_chunk, kSilence, kAudioChunkSize);
    }
    constexpr int kHeaderSlots = kRecordHeaderSize / kGroupSize;  // 40
    for (int i = 0; i < kHeaderSlots; ++i) {
      header[i * kGroupSize + kAudioSlotOffset] = state.audio_chunk[i];
    }
    for (int i = kHeaderSlots; i < kAudioChunkSize; ++i) {
      state.frame_block[(i - kHeaderSlots) * kGroupSize + kAudioSlotOffset] = state.audio_chunk[i];
    }
  }

  if (track.Write(header, kRecordHeaderSize) && track.Write(state.frame_block, kFrameBlockSize)) {
    return true;
  }
  // A record written in part (a full disk) is taken back, so the finished track
  // still holds only whole records.
  track.TruncateTo(start);
  return false;
}

bool FinishTrack(InstanceState& state) {
  // A track that ends before its first record (the disk filled up) holds no picture
  // a player could show, and is removed rather than left as an invalid file.
  if (state.output_track->Position() == kFirstRecordOffset) {
    CloseAndFree(state.output_track);
    char name[kPathCapacity];
    if (BuildTrackFileName(state.output_directory, state.track_counter, name))
      WaveFile::Remove(name);
    return true;
  }
  // Closed even when the header could not be patched; the first failure's reason is
  // the one LastError() keeps.
  const bool patched = state.output_track->FinishHeader();
  const int reason = WaveFile::LastError();
  const bool closed = CloseAndFree(state.output_track);
  if (!patched) WaveFile::RecordFailure(reason);
  return patched && closed;
}

}  // namespace trackloom
