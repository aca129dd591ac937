// The summary record that MASTER.NDX keeps per image file: its time span,
// bytes used, and per entry kind and channel the last sequence number and
// time span. Plain byte code over the stored 688 bytes, no platform calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t kMasterRecordSize = 688;
inline constexpr std::size_t kMasterHeaderSize = 6;  // format code 48, first file number
inline constexpr int kMasterChannels = 16;

// Times are signed seconds since 1970; these stand for "none yet".
inline constexpr std::int32_t kNoEarliestTime = 2085724800;
inline constexpr std::int32_t kNoLatestTime = 115200;

using MasterRecordBytes = std::span<std::uint8_t, kMasterRecordSize>;
using ConstMasterRecordBytes = std::span<const std::uint8_t, kMasterRecordSize>;

// The empty record, with capacity (bytes) in its capacity field.
void InitRecord(MasterRecordBytes record, std::uint32_t capacity);

// A buffer holding the empty record, its padding zero: a record we write
// back then carries no leftover memory and is the same on every run.
using MasterRecordBuffer = std::array<std::uint8_t, kMasterRecordSize>;
MasterRecordBuffer EmptyRecord(std::uint32_t capacity);

// Adds one entry of an image file: kind 0 video, 1 audio, 2 text, channel
// 0 to 15. Other kinds only widen the record's time span; a channel outside
// 0 to 15 counts in the span and the bytes used but in no channel's tables.
void AddEntry(MasterRecordBytes record, int channel, int kind, std::uint32_t sequence, std::int32_t time,
              std::uint32_t keyValue, std::uint32_t dataSize);

// Any of the three kinds present.
bool IsRecordUsed(ConstMasterRecordBytes record);

// Whether the record still holds what InitRecord puts in the fields entries
// change (the span, bytes used, capacity, channel masks and every
// per-channel table); the present flags and reserved words are not compared.
bool IsEmptyRecord(ConstMasterRecordBytes record);

std::int32_t GetEarliestTime(ConstMasterRecordBytes record);
std::int32_t GetLatestTime(ConstMasterRecordBytes record);
std::uint32_t GetBytesUsed(ConstMasterRecordBytes record);
// The sequence number of the last entry added for a kind (0 to 2) and
// channel (0 to 15); 0 outside them.
std::uint32_t GetSequence(ConstMasterRecordBytes record, int kind, int channel);
void SetCapacity(MasterRecordBytes record, std::uint32_t capacity);

// Where the record of local file number lies in MASTER.NDX: 6 + (number -
// firstNumber) x 688. Negative for a number below the first.
std::int64_t MasterRecordOffset(std::int32_t number, std::int32_t firstNumber);
