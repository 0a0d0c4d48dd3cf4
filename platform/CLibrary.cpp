// The C library functions the compiler's own code calls: wcslen, where a string view is made
// from a C string, and memmove, for std::copy; and in an unoptimised (Debug) build also memcpy,
// for std::memcpy, and wmemchr, which std::wstring_view's searches call where nothing is inlined.
// With no C library linked in, the program supplies them; should the compiler ever call another,
// the link fails and names it. The optimised build calls neither of the last two, and the link
// drops them (--gc-sections), so they cost the shipped image nothing.
//
// Built without loop-pattern recognition, or GCC would turn these loops into calls to the very
// functions they define.
#include <cstddef>

extern "C" std::size_t wcslen(const wchar_t* text)
{
    const wchar_t* end = text;
    while (*end != L'\0') {
        ++end;
    }
    return static_cast<std::size_t>(end - text);
}

extern "C" void* memmove(void* to, const void* from, std::size_t size)
{
    auto* out = static_cast<unsigned char*>(to);
    const auto* in = static_cast<const unsigned char*>(from);
    if (out < in) {
        for (std::size_t i = 0; i < size; ++i) {
            out[i] = in[i];
        }
    } else {
        while (size-- > 0) {
            out[size] = in[size];
        }
    }
    return to;
}

// Its ranges never overlap, so memmove does.
extern "C" void* memcpy(void* to, const void* from, std::size_t size)
{
    return memmove(to, from, size);
}

extern "C" wchar_t* wmemchr(const wchar_t* text, wchar_t sought, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (text[i] == sought) {
            return const_cast<wchar_t*>(text + i);
        }
    }
    return nullptr;
}
