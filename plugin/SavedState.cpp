#include "plugin/SavedState.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

namespace savedstate
{
namespace
{
constexpr juce::uint32 magic = 0x21324356; // "VC2!" read as a little-endian integer
constexpr int headerSize = 8;               // magic and text length

// The characters the framework's parser takes into tag, attribute and reference names.
bool isNameChar(char c) noexcept
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'
        || c == ':' || c == '.';
}

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) noexcept { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isSpace(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool startsWith(const char* p, std::string_view prefix) noexcept
{
    return std::strncmp(p, prefix.data(), prefix.size()) == 0;
}

// Moves p past the next occurrence of terminator; false when the text ends first.
bool skipPast(const char*& p, std::string_view terminator) noexcept
{
    for (; *p != 0; ++p)
        if (startsWith(p, terminator))
        {
            p += terminator.size();
            return true;
        }
    return false;
}

// Moves p from '&' past a reference: "#" digits ";", "#x" hex digits ";" or a name and ";".
// Anything else is refused, an unterminated reference above all: the framework's parser
// steps over the end of the text after a hexadecimal reference that runs into it.
bool skipReference(const char*& p) noexcept
{
    ++p;
    bool (*accepts)(char) noexcept = isNameChar;
    if (*p == '#')
    {
        ++p;
        accepts = isDigit;
        if (*p == 'x' || *p == 'X')
        {
            ++p;
            accepts = isHexDigit;
        }
    }
    const char* first = p;
    while (accepts(*p))
        ++p;
    if (p == first || *p != ';')
        return false;
    ++p;
    return true;
}

enum class Tag
{
    open,      // ended with '>': the element's content follows
    closed,    // ended with "/>"
    textEnded, // the text stops inside the tag
    refused
};

// Reads a start tag from the first character of its name.
Tag readStartTag(const char*& p) noexcept
{
    while (isNameChar(*p))
        ++p;

    for (;;)
    {
        while (isSpace(*p))
            ++p;
        if (*p == 0)
            return Tag::textEnded;
        if (*p == '>')
        {
            ++p;
            return Tag::open;
        }
        if (*p == '/' && p[1] == '>')
        {
            p += 2;
            return Tag::closed;
        }
        if (!isNameChar(*p))
            return Tag::refused;

        while (isNameChar(*p))
            ++p;

        while (isSpace(*p))
            ++p;
        if (*p != '=')
            return *p == 0 ? Tag::textEnded : Tag::refused;
        ++p;
        while (isSpace(*p))
            ++p;
        const char quote = *p;
        if (quote != '"' && quote != '\'')
            return quote == 0 ? Tag::textEnded : Tag::refused;
        for (++p; *p != quote;)
        {
            if (*p == 0)
                return Tag::textEnded;
            if (*p == '<')
                return Tag::refused;
            if (*p != '&')
                ++p;
            else if (!skipReference(p))
                return Tag::refused;
        }
        ++p;
    }
}

// True when every character of a zero-terminated text is complete, well-formed UTF-8. The
// framework's parser steps over a character by its first byte alone, so a broken sequence
// near the end would carry it past the end of the text.
bool isWellFormedUtf8(const char* text) noexcept
{
    for (auto* p = reinterpret_cast<const unsigned char*>(text); *p != 0;)
    {
        const unsigned char first = *p++;
        const int following = first < 0x80 ? 0 : first < 0xE0 ? 1 : first < 0xF0 ? 2 : 3;
        if ((first >= 0x80 && first < 0xC2) || first >= 0xF5) // a continuation, overlong or out-of-range start
            return false;
        for (int i = 0; i < following; ++i, ++p)
            if ((*p & 0xC0) != 0x80)
                return false;
    }
    return true;
}

// The text after the header, at most as many bytes as the length field gives, as the
// framework reads it; nothing when the block is not a saved state.
std::optional<juce::String> textOfBlock(const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= headerSize || juce::ByteOrder::littleEndianInt(data) != magic)
        return std::nullopt;
    const auto* bytes = static_cast<const char*>(data);
    const auto length = static_cast<int>(juce::ByteOrder::littleEndianInt(bytes + 4));
    if (length <= 0)
        return std::nullopt;

    auto text = juce::String::fromUTF8(bytes + headerSize, std::min(length, sizeInBytes - headerSize));
    if (!isWellFormedUtf8(text.toRawUTF8()))
        return std::nullopt;
    return text;
}

const juce::Identifier& idProperty()
{
    static const juce::Identifier id { "id" };
    return id;
}

const juce::Identifier& valueProperty()
{
    static const juce::Identifier value { "value" };
    return value;
}

// The parameters' identifiers, in the order in which the tree adds children it lacks.
std::vector<juce::String> parameterIds(const juce::AudioProcessorValueTreeState& parameters)
{
    std::vector<juce::String> ids;
    for (const auto* parameter : parameters.processor.getParameters())
        if (const auto* withId = dynamic_cast<const juce::AudioProcessorParameterWithID*>(parameter))
            ids.push_back(withId->paramID);
    std::sort(ids.begin(), ids.end());
    return ids;
}

float currentValue(const juce::AudioProcessorValueTreeState& parameters, const juce::String& id)
{
    return parameters.getRawParameterValue(id)->load();
}

// The child the tree reads a parameter from: the last one that carries its identifier.
juce::ValueTree boundChild(const juce::ValueTree& tree, const juce::String& id)
{
    for (int i = tree.getNumChildren(); --i >= 0;)
        if (tree.getChild(i).getProperty(idProperty()).toString() == id)
            return tree.getChild(i);
    return {};
}

// A repeated property, in the text or through the framework's "base64:" prefix, would be
// read from its first copy but saved from its last: a restored value would change on the
// next save, and later changes to it would be lost.
bool hasRepeatedProperty(const juce::ValueTree& tree)
{
    std::vector<const char*> names; // pooled: one address per distinct name
    for (int i = 0; i < tree.getNumProperties(); ++i)
        names.push_back(tree.getPropertyName(i).getCharPointer().getAddress());
    std::sort(names.begin(), names.end(), std::less<>());
    if (std::adjacent_find(names.begin(), names.end()) != names.end())
        return true;
    for (const auto& child : tree)
        if (hasRepeatedProperty(child))
            return true;
    return false;
}

// The framework reads "nan" as a number, and a NaN would pass the parameters' clamping and
// snapping unchanged; like any other value that is not a number it reads as 0 instead.
void replaceNanValues(juce::ValueTree& tree)
{
    for (auto child : tree)
    {
        const auto* v = child.getPropertyPointer(valueProperty());
        if (v != nullptr && std::isnan(static_cast<double>(*v)))
            child.setProperty(valueProperty(), 0, nullptr);
    }
}

// The framework would hand a parameter that has no child in a restored tree its default
// value; a child carrying the current value lets it keep that value instead.
void addMissingChildren(juce::ValueTree& tree, const juce::AudioProcessorValueTreeState& parameters)
{
    static const juce::Identifier paramType { "PARAM" };
    for (const auto& id : parameterIds(parameters))
        if (!boundChild(tree, id).isValid())
            tree.appendChild(juce::ValueTree(paramType, { { idProperty(), id },
                                                          { valueProperty(), currentValue(parameters, id) } }),
                             nullptr);
}

// The tree's own flush leaves a stored value alone while it is within a rounding step of the
// parameter's (a default seeded before snapping, a restored "30.00001"); the saved block
// carries every parameter's value exactly.
void writeExactValues(juce::ValueTree& tree, const juce::AudioProcessorValueTreeState& parameters)
{
    for (const auto& id : parameterIds(parameters))
    {
        auto child = boundChild(tree, id);
        const float value = currentValue(parameters, id);
        const auto* stored = child.getPropertyPointer(valueProperty());
        if (child.isValid() && (stored == nullptr || !juce::exactlyEqual(static_cast<float>(*stored), value)))
            child.setProperty(valueProperty(), value, nullptr);
    }
}
} // namespace

std::optional<int> elementDepth(const char* text)
{
    const char* p = text;
    for (;;)
    {
        while (isSpace(*p))
            ++p;
        if (startsWith(p, "<!--"))
        {
            if (!skipPast(p += 4, "-->"))
                return 0;
        }
        else if (startsWith(p, "<?"))
        {
            if (!skipPast(p += 2, "?>"))
                return 0;
        }
        else
            break;
    }
    if (*p == 0)
        return 0;

    int depth = 0;
    int deepest = 0;
    while (*p == '<' && isNameChar(p[1]))
    {
        ++p;
        deepest = std::max(deepest, depth + 1);
        switch (readStartTag(p))
        {
        case Tag::open: ++depth; break;
        case Tag::closed: break;
        case Tag::textEnded: return deepest;
        case Tag::refused: return std::nullopt;
        }

        // Content up to the next start tag; the walk ends where the root element does.
        while (depth > 0)
        {
            if (*p == 0)
                return deepest;
            if (*p == '&')
            {
                if (!skipReference(p))
                    return std::nullopt;
            }
            else if (*p != '<')
                ++p;
            else if (startsWith(p, "<!--"))
            {
                if (!skipPast(p += 4, "-->"))
                    return deepest;
            }
            else if (startsWith(p, "<?"))
                return std::nullopt; // the parser loops for ever on an instruction followed by text
            else if (startsWith(p, "<![CDATA["))
            {
                if (!skipPast(p += 9, "]]>"))
                    return deepest;
            }
            else if (startsWith(p, "</"))
            {
                // The parser closes the open element at any end tag, whatever its name.
                if (!skipPast(p += 2, ">"))
                    return deepest;
                --depth;
            }
            else
                break;
        }
        if (depth == 0)
            return deepest;
    }
    return std::nullopt;
}

void saveState(juce::AudioProcessorValueTreeState& parameters, juce::MemoryBlock& destination)
{
    auto state = parameters.copyState();
    if (!state.isValid())
        return;
    writeExactValues(state, parameters);
    if (const auto xml = state.createXml())
        juce::AudioProcessor::copyXmlToBinary(*xml, destination);
}

bool restoreState(juce::AudioProcessorValueTreeState& parameters, const void* data, int sizeInBytes)
{
    const auto text = textOfBlock(data, sizeInBytes);
    if (!text)
        return false;

    // Checked before parsing: the parser descends once per level on the host's stack.
    const auto depth = elementDepth(text->toRawUTF8());
    if (!depth || *depth > maxElementDepth)
        return false;

    const auto xml = juce::parseXML(*text);
    if (xml == nullptr || !xml->getTagName().equalsIgnoreCase(parameters.state.getType().toString()))
        return false;

    auto restored = juce::ValueTree::fromXml(*xml);
    if (hasRepeatedProperty(restored))
        return false;
    replaceNanValues(restored);
    addMissingChildren(restored, parameters);
    parameters.replaceState(restored);
    return true;
}
} // namespace savedstate
