#include "zk/ui/converter_session.hpp"

#include "zk/engine/recording/recording.hpp"

namespace zk::ui {

std::optional<Error> ConverterSession::Open_Source(const std::string& path) {
    Close_Source();
    Result<FileSource> opened = openRecording(path);
    if (!opened) {
        return opened.error();
    }
    Source.emplace(std::move(*opened));
    return std::nullopt;
}

}  // namespace zk::ui
