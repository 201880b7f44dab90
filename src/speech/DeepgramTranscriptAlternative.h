#pragma once

#include <QString>

#include <optional>

// One recognition hypothesis of a Results frame.
struct DeepgramTranscriptAlternative
{
    std::optional<QString> transcript;
};
