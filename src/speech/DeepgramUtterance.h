#pragma once

#include <QString>

#include <optional>

// One utterance of a Results frame (present when utterances were requested).
struct DeepgramUtterance
{
    std::optional<QString> transcript;
};
