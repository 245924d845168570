#pragma once

namespace kqget {

// The two files a card folder holds.
enum class CardFileKind
{
    Xml,
    Illustration,
};

} // namespace kqget
