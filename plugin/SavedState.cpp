#include "plugin/SavedState.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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
bool skipPast(const char*& p, const char* terminator) noexcept
{
    const char* found = std::strstr(p, terminator);
    if (found == nullptr)
        return false;
    p = found + std::strlen(terminator);
    return true;
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

// The framework turns a "base64:" attribute into a property without the prefix, so both
// spellings name the same property.
std::string_view propertyName(std::string_view attribute) noexcept
{
    constexpr std::string_view binaryPrefix = "base64:";
    return attribute.substr(0, binaryPrefix.size()) == binaryPrefix ? attribute.substr(binaryPrefix.size()) : attribute;
}

enum class Tag
{
    open,      // ended with '>': the element's content follows
    closed,    // ended with "/>"
    textEnded, // the text stops inside the tag
    refused
};

// Reads a start tag from the first character of its name. A repeated attribute is refused:
// the tree would read the first copy but save the last, so a restored value would change
// on the next save.
Tag readStartTag(const char*& p)
{
    while (isNameChar(*p))
        ++p;

    std::vector<std::string_view> names;
    for (;;)
    {
        while (isSpace(*p))
            ++p;
        if (*p == 0)
            return Tag::textEnded;
        if (*p == '>' || (*p == '/' && p[1] == '>'))
        {
            std::sort(names.begin(), names.end());
            if (std::adjacent_find(names.begin(), names.end()) != names.end())
                return Tag::refused;
            const Tag ending = *p == '>' ? Tag::open : Tag::closed;
            p += ending == Tag::open ? 1 : 2;
            return ending;
        }
        if (!isNameChar(*p))
            return Tag::refused;

        const char* name = p;
        while (isNameChar(*p))
            ++p;
        names.push_back(propertyName({ name, static_cast<std::size_t>(p - name) }));

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

// The bytes after the header, at most as many as the length field gives, as the framework
// reads them; nothing when the block is not a saved state. The copy ends in a zero byte,
// since decoding a multi-byte character at the very end would otherwise read past the data.
std::optional<juce::String> textOfBlock(const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= headerSize || juce::ByteOrder::littleEndianInt(data) != magic)
        return std::nullopt;
    const auto* bytes = static_cast<const char*>(data);
    const auto length = static_cast<int>(juce::ByteOrder::littleEndianInt(bytes + 4));
    if (length <= 0)
        return std::nullopt;

    const int n = std::min(length, sizeInBytes - headerSize);
    std::vector<char> text(static_cast<std::size_t>(n) + 1, '\0');
    std::memcpy(text.data(), bytes + headerSize, static_cast<std::size_t>(n));
    return juce::String::fromUTF8(text.data(), n);
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

// The framework reads "nan" as a number, and a NaN would pass the parameters' clamping and
// snapping unchanged; like any other value that is not a number it reads as 0 instead.
void replaceNanValues(juce::ValueTree& tree)
{
    for (auto child : tree)
        if (const auto* v = child.getPropertyPointer(valueProperty()); v != nullptr && std::isnan(static_cast<double>(*v)))
            child.setProperty(valueProperty(), 0, nullptr);
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
            {
                if (!skipPast(p += 2, "?>"))
                    return deepest;
            }
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
    replaceNanValues(restored);
    addMissingChildren(restored, parameters);
    parameters.replaceState(restored);
    return true;
}
} // namespace savedstate
