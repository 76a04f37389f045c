#include "zk/engine/recording/recording.hpp"

#include <array>

#include "zk/engine/recording/record.hpp"

namespace zk {

bool Verify_zkd_Format(ByteSource& source) {
    constexpr std::size_t kRecords = 5;
    std::array<unsigned char, kRecords * kRecordSize> head{};
    // A file too short to hold five whole records is not a recording that can be exported.
    if (source.readAt(0, head.data(), head.size()) < head.size()) {
        return false;
    }
    bool valid = true;
    for (std::size_t i = 0; i < kRecords; ++i) {
        if (!isValidationType(head[i * kRecordSize + record_offset::RecordType])) {
            valid = false;
        }
    }
    return valid;
}

Result<FileSource> openRecording(const std::string& path) {
    try {
        FileSource source(path);
        if (!Verify_zkd_Format(source)) {
            return Error(ErrorCode::NotARecording, kIncompatibleFileMessage, path);
        }
        return source;
    } catch (...) {
        return currentFailure(path, "opening the recording");
    }
}

}  // namespace zk
