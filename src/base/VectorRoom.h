#pragma once

// Room for vectors (and byte buffers) that live as long as a session and grow a little at a
// time. They grow by an eighth, not by the doubling of push_back, insert and append, which
// leaves up to half of them unused for the rest of the session; each growth still moves every
// element, so over a session an element is moved about nine times instead of about twice,
// which is cheap next to the rest of a turn's work.

#include <cstddef>
#include <vector>

namespace VectorRoom {

// Room for `extra` more elements (a std::vector, a QByteArray).
template <typename Container>
void makeRoom(Container &items, std::size_t extra = 1)
{
    const auto needed = items.size() + decltype(items.size())(extra);
    if (needed > items.capacity())
        items.reserve(needed + needed / 8);
}

// Empties the vector and gives its room back (clear() keeps it).
template <typename T>
void release(std::vector<T> &items)
{
    std::vector<T>().swap(items);
}

// Gives back the room beyond an eighth more than the elements take.
template <typename T>
void trim(std::vector<T> &items)
{
    if (items.capacity() > items.size() + items.size() / 8 + 16)
        items.shrink_to_fit();
}

} // namespace VectorRoom
