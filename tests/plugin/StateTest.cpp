#include "plugin/PluginProcessor.h"
#include "plugin/SavedState.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace
{
constexpr std::array<const char*, 8> ids { "peakReduction", "gain", "compLimit", "emphasis",
                                           "meter",         "mix",  "power",     "bypass" };
using Values = std::array<float, 8>;

Values valuesOf(QuillonAudioProcessor& p)
{
    Values v {};
    for (std::size_t i = 0; i < ids.size(); ++i)
        v[i] = p.parameters.getRawParameterValue(ids[i])->load();
    return v;
}

float valueOf(QuillonAudioProcessor& p, const char* id) { return p.parameters.getRawParameterValue(id)->load(); }

void setPlain(QuillonAudioProcessor& p, const char* id, float value)
{
    auto* parameter = p.parameters.getParameter(id);
    parameter->setValueNotifyingHost(parameter->convertTo0to1(value));
}

// Every parameter away from its default, so that a restore of anything shows.
void moveAwayFromDefaults(QuillonAudioProcessor& p)
{
    const Values moved { 61.2f, 41.5f, 1.0f, 37.0f, 2.0f, 55.0f, 0.0f, 1.0f };
    for (std::size_t i = 0; i < ids.size(); ++i)
        setPlain(p, ids[i], moved[i]);
}

juce::MemoryBlock saved(QuillonAudioProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation(block);
    return block;
}

void restore(QuillonAudioProcessor& p, const juce::MemoryBlock& block)
{
    p.setStateInformation(block.getData(), static_cast<int>(block.getSize()));
}

std::uint32_t littleEndianAt(const juce::MemoryBlock& block, std::size_t offset)
{
    const auto* b = static_cast<const unsigned char*>(block.getData()) + offset;
    return std::uint32_t { b[0] } | std::uint32_t { b[1] } << 8 | std::uint32_t { b[2] } << 16
         | std::uint32_t { b[3] } << 24;
}

// A block as the envelope lays it out: magic, length field, text, zero byte.
juce::MemoryBlock envelope(const std::string& text, std::optional<std::uint32_t> lengthField = std::nullopt,
                           const char* magic = "VC2!")
{
    const std::uint32_t n = lengthField.value_or(static_cast<std::uint32_t>(text.size()));
    juce::MemoryBlock block;
    block.append(magic, 4);
    const unsigned char length[4] = { static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                      static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24) };
    block.append(length, 4);
    block.append(text.data(), text.size());
    block.append("", 1);
    return block;
}

const std::string declaration = R"(<?xml version="1.0" encoding="UTF-8"?> )";

std::string param(const char* id, const char* value)
{
    return std::string("<PARAM id=\"") + id + "\" value=\"" + value + "\"/>";
}

// A state document whose root holds the given children.
std::string document(const std::string& children, const char* root = "QuillonState")
{
    return declaration + "<" + root + ">" + children + "</" + root + ">";
}

// Gain and Mix at 77, the six others at their defaults: it differs from a moved processor
// in every parameter.
std::string gainAndMixAt77()
{
    return param("bypass", "0.0") + param("compLimit", "0.0") + param("emphasis", "0.0") + param("gain", "77.0")
         + param("meter", "1.0") + param("mix", "77.0") + param("peakReduction", "25.0") + param("power", "1.0");
}

std::string nested(int levels, const std::string& inner = {})
{
    std::string s;
    s.reserve(static_cast<std::size_t>(levels) * 7 + inner.size());
    for (int i = 0; i < levels; ++i)
        s += "<n>";
    s += inner;
    for (int i = 0; i < levels; ++i)
        s += "</n>";
    return s;
}
} // namespace

TEST(State, FreshBlockIsTheEnvelopeAroundTheEightDefaultChildren)
{
    QuillonAudioProcessor p;
    const auto block = saved(p);
    ASSERT_GT(block.getSize(), 9u);

    EXPECT_EQ(std::string(static_cast<const char*>(block.getData()), 4), "VC2!");
    EXPECT_EQ(littleEndianAt(block, 4), block.getSize() - 9);
    EXPECT_EQ(block[block.getSize() - 1], 0);

    const std::string text(static_cast<const char*>(block.getData()) + 8, block.getSize() - 9);
    EXPECT_EQ(text, declaration + "<QuillonState>" + param("bypass", "0.0") + param("compLimit", "0.0")
                        + param("emphasis", "0.0") + param("gain", "30.0") + param("meter", "1.0")
                        + param("mix", "100.0") + param("peakReduction", "25.0") + param("power", "1.0")
                        + "</QuillonState>");
}

TEST(State, RoundTripRestoresTheChangedParameterAndKeepsTheDefaults)
{
    QuillonAudioProcessor source;
    setPlain(source, "gain", 41.5f);

    QuillonAudioProcessor target;
    const auto defaults = valuesOf(target);
    restore(target, saved(source));

    auto expected = defaults;
    expected[1] = 41.5f;
    EXPECT_EQ(valuesOf(target), expected);
}

TEST(State, RestoredStateSavesTheSameBytes)
{
    QuillonAudioProcessor source;
    moveAwayFromDefaults(source);
    setPlain(source, "peakReduction", 33.3f); // not exact in binary: written with all its digits
    const auto block = saved(source);

    QuillonAudioProcessor target;
    restore(target, block);
    EXPECT_EQ(valuesOf(target), valuesOf(source));
    EXPECT_EQ(saved(target), block);

    restore(target, block);
    EXPECT_EQ(saved(target), block);
}

// ---- Blocks that are ignored as a whole ------------------------------------------------

struct RejectedBlock
{
    const char* name;
    std::function<juce::MemoryBlock()> make;
};

void PrintTo(const RejectedBlock& c, std::ostream* os) { *os << c.name; }

class StateRejects : public testing::TestWithParam<RejectedBlock>
{
};

// Most of these differ in one respect only from a block that would be taken and would change
// every parameter of a moved processor; the next test takes the repaired forms.
const RejectedBlock rejectedBlocks[] = {
    { "Empty", [] { return juce::MemoryBlock(); } },
    { "EightBytes", [] { return juce::MemoryBlock(envelope(document(gainAndMixAt77())).getData(), 8); } },
    { "OtherMagic", [] { return envelope(document(gainAndMixAt77()), std::nullopt, "VC3!"); } },
    { "ZeroLength", [] { return envelope(document(gainAndMixAt77()), 0u); } },
    { "NegativeLength", [] { return envelope(document(gainAndMixAt77()), 0xFFFFFFFFu); } },
    { "MostNegativeLength", [] { return envelope(document(gainAndMixAt77()), 0x80000000u); } },
    { "EmptyText", [] { return envelope("", 5u); } },
    { "TextThatIsNotXml", [] { return envelope("Quillon gain=77 mix=77"); } },
    { "OtherRootTag", [] { return envelope(document(gainAndMixAt77(), "QuillonPreset")); } },
    { "SeventeenLevels", [] { return envelope(document(gainAndMixAt77() + nested(16))); } },
    { "AMillionLevels", [] { return envelope(document(gainAndMixAt77() + nested(1000000))); } },
    { "DocumentTypeWithEntities",
      [] {
          return envelope(R"(<!DOCTYPE QuillonState [<!ENTITY e "x&e;">]>)" "<QuillonState>"
                          + gainAndMixAt77() + "&e;</QuillonState>");
      } },
    { "ElementsInsideAReference", [] { return envelope(document(gainAndMixAt77() + "&<n><n></n></n>;")); } },
    { "HexReferenceRunningIntoTheEnd",
      [] {
          auto block = envelope(declaration + "<QuillonState>" + gainAndMixAt77() + "&#x4");
          block.setSize(block.getSize() - 1); // no zero byte: the text ends with the data
          return block;
      } },
    { "RepeatedAttribute", [] { return envelope(document(gainAndMixAt77() + R"(<PARAM id="x" id="y"/>)")); } },
    { "RepeatedAttributeAsBase64",
      [] {
          const auto encoded = juce::MemoryBlock("x", 1).toBase64Encoding().toStdString();
          return envelope(document(gainAndMixAt77() + R"(<PARAM id="x" base64:id=")" + encoded + "\"/>"));
      } },
    { "RepeatedAttributeDeeper",
      [] { return envelope(document(gainAndMixAt77() + R"(<X><Y><PARAM id="x" id="y"/></Y></X>)")); } },
    { "TextThatIsNotUtf8", [] { return envelope(document(gainAndMixAt77() + "<PARAM id=\"\xff\"/>")); } },
    { "CharacterCutShortAtTheEnd",
      [] {
          auto block = envelope(document(gainAndMixAt77()) + "\xe2\x82");
          block.setSize(block.getSize() - 1);
          return block;
      } },
    { "InstructionFollowedByText", [] { return envelope(document(gainAndMixAt77() + "<?pi?>text")); } },
    { "MarkupInAnAttributeValue",
      [] { return envelope(document(gainAndMixAt77() + R"(<PARAM id="<n><n>"/>)")); } },
};

TEST_P(StateRejects, BlockAndChangesNothing)
{
    QuillonAudioProcessor p;
    moveAwayFromDefaults(p);
    const auto before = valuesOf(p);
    const auto bytesBefore = saved(p);

    const auto block = GetParam().make();
    EXPECT_FALSE(savedstate::restoreState(p.parameters, block.getData(), static_cast<int>(block.getSize())));
    restore(p, block);

    EXPECT_EQ(valuesOf(p), before);
    EXPECT_EQ(saved(p), bytesBefore);
}

INSTANTIATE_TEST_SUITE_P(State, StateRejects, testing::ValuesIn(rejectedBlocks),
                         [](const testing::TestParamInfo<RejectedBlock>& info) { return info.param.name; });

TEST(State, BlocksThatWouldBeRejectedAreTakenOnceRepaired)
{
    // The blocks above, with their one fault undone, change the parameters.
    const std::string utf8Child = "<PARAM id=\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\x9b\"/>"; // two, three, four bytes
    const juce::MemoryBlock blocks[] = { envelope(document(gainAndMixAt77())),
                                         envelope(document(gainAndMixAt77() + nested(15))),
                                         envelope(document(gainAndMixAt77() + "&amp;&#x4e;&#78;&n;")),
                                         envelope(document(gainAndMixAt77() + R"(<PARAM id="x" name="y"/>)")),
                                         envelope(document(gainAndMixAt77() + utf8Child)),
                                         // not the framework's binary form, so no second "id"
                                         envelope(document(gainAndMixAt77() + R"(<PARAM id="x" base64:id="AAAA"/>)")) };
    for (const auto& block : blocks)
    {
        QuillonAudioProcessor p;
        moveAwayFromDefaults(p);
        restore(p, block);
        EXPECT_EQ(valueOf(p, "gain"), 77.0f);
        EXPECT_EQ(valueOf(p, "mix"), 77.0f);
        EXPECT_EQ(valueOf(p, "power"), 1.0f);
    }
}

TEST(State, NullDataAndNegativeSizesAreIgnored)
{
    QuillonAudioProcessor p;
    moveAwayFromDefaults(p);
    const auto before = valuesOf(p);
    const auto block = envelope(document(gainAndMixAt77()));
    p.setStateInformation(nullptr, 100);
    p.setStateInformation(block.getData(), -1);
    EXPECT_EQ(valuesOf(p), before);
}

// ---- Blocks that are taken -------------------------------------------------------------

TEST(State, RootTagIsComparedWithoutLetterCaseAndKeptAsStored)
{
    QuillonAudioProcessor p;
    restore(p, envelope(document(param("gain", "41.5"), "quillonstate")));
    EXPECT_EQ(valueOf(p, "gain"), 41.5f);

    const auto block = saved(p);
    const std::string text(static_cast<const char*>(block.getData()) + 8, block.getSize() - 9);
    EXPECT_EQ(text.rfind(declaration + "<quillonstate>", 0), 0u) << text;
}

TEST(State, MissingChildKeepsItsParameterAndTheOthersAreRestored)
{
    QuillonAudioProcessor p;
    moveAwayFromDefaults(p);
    restore(p, envelope(document(param("gain", "12.5") + param("peakReduction", "45.5"))));

    EXPECT_EQ(valueOf(p, "gain"), 12.5f);
    EXPECT_EQ(valueOf(p, "peakReduction"), 45.5f);
    EXPECT_EQ(valueOf(p, "mix"), 55.0f);
    EXPECT_EQ(valueOf(p, "emphasis"), 37.0f);
}

TEST(State, IdentifiersMatchWithLetterCaseAndOtherChildrenAreKept)
{
    QuillonAudioProcessor p;
    setPlain(p, "gain", 41.5f);
    restore(p, envelope(document(param("Gain", "77.0"))));
    EXPECT_EQ(valueOf(p, "gain"), 41.5f);

    // The unknown child travels on with the state and changes nothing elsewhere either.
    QuillonAudioProcessor q;
    restore(q, saved(p));
    EXPECT_EQ(valueOf(q, "gain"), 41.5f);
    const auto block = saved(q);
    const std::string text(static_cast<const char*>(block.getData()) + 8, block.getSize() - 9);
    EXPECT_NE(text.find(param("Gain", "77.0")), std::string::npos) << text;
}

struct TakenValue
{
    const char* name;
    std::string child;
    const char* id;
    float expected;
};

void PrintTo(const TakenValue& c, std::ostream* os) { *os << c.name; }

class StateReadsValue : public testing::TestWithParam<TakenValue>
{
};

// Restored values pass through the parameters: clamped, snapped, defaults when absent.
const TakenValue takenValues[] = {
    { "MissingValueGivesTheDefault", R"(<PARAM id="gain"/>)", "gain", 30.0f },
    { "AboveTheRangeIsClamped", param("gain", "250"), "gain", 100.0f },
    { "BelowTheRangeIsClamped", param("mix", "-5"), "mix", 0.0f },
    { "SnappedToTheInterval", param("gain", "33.33"), "gain", 33.3f },
    { "WholeStepsForEmphasis", param("emphasis", "12.6"), "emphasis", 13.0f },
    { "NotANumberReadsAsZero", param("gain", "loud"), "gain", 0.0f },
    { "NanReadsAsZero", param("gain", "nan"), "gain", 0.0f },
    { "NegativeNanReadsAsZero", param("mix", "-NaN"), "mix", 0.0f },
    { "InfinityIsClamped", param("gain", "inf"), "gain", 100.0f },
    { "ChoiceIndexIsClamped", param("meter", "7"), "meter", 2.0f },
    { "BoolRoundsToOnOrOff", param("bypass", "0.3"), "bypass", 0.0f },
    { "ReferencesAreDecoded", param("gain", "4&#x32;&#46;5"), "gain", 42.5f },
    { "AnyChildTypeWithTheIdentifier", R"(<OTHER id="gain" value="12"/>)", "gain", 12.0f },
};

TEST_P(StateReadsValue, FromItsChild)
{
    QuillonAudioProcessor p;
    moveAwayFromDefaults(p);
    restore(p, envelope(document(GetParam().child)));
    EXPECT_EQ(valueOf(p, GetParam().id), GetParam().expected);
    for (const char* id : ids)
        EXPECT_TRUE(std::isfinite(valueOf(p, id))) << id;
}

INSTANTIATE_TEST_SUITE_P(State, StateReadsValue, testing::ValuesIn(takenValues),
                         [](const testing::TestParamInfo<TakenValue>& info) { return info.param.name; });

TEST(State, LengthFieldBeyondTheDataIsCutToTheData)
{
    QuillonAudioProcessor source;
    setPlain(source, "gain", 41.5f);
    auto block = saved(source);
    for (const std::uint32_t field : { 0x7FFFFFFFu, static_cast<std::uint32_t>(block.getSize()) })
    {
        auto oversized = block;
        oversized.copyFrom(&field, 4, 4); // the test machine is little-endian, as the field
        QuillonAudioProcessor target;
        restore(target, oversized);
        EXPECT_EQ(valueOf(target, "gain"), 41.5f);
    }
}

TEST(State, TruncatedBlockRestoresEverythingOrNothing)
{
    QuillonAudioProcessor source;
    moveAwayFromDefaults(source);
    const auto block = saved(source);
    const auto full = valuesOf(source);

    // The target starts away from both the defaults and the saved values.
    QuillonAudioProcessor target;
    restore(target, envelope(document(gainAndMixAt77() + param("emphasis", "5") + param("bypass", "1"))));
    const auto start = valuesOf(target);
    const auto startBlock = saved(target);
    for (std::size_t size = 0; size < block.getSize(); ++size)
    {
        restore(target, startBlock);
        target.setStateInformation(block.getData(), static_cast<int>(size)); // length field left as saved
        const auto now = valuesOf(target);
        EXPECT_TRUE(now == full || now == start) << "cut at " << size;
    }
}

TEST(State, RepeatedChildrenResolveToTheLastOneWhateverTheStartingPoint)
{
    const auto block = envelope(document(param("gain", "10") + param("mix", "20") + param("gain", "60")));
    for (const float start : { 10.0f, 60.0f, 41.5f })
    {
        QuillonAudioProcessor p;
        setPlain(p, "gain", start);
        restore(p, block);
        EXPECT_EQ(valueOf(p, "gain"), 60.0f) << "from " << start;

        // Saved and restored again, the pair still resolves the same way, and a later change
        // lands in the child that is read.
        setPlain(p, "gain", 25.5f);
        QuillonAudioProcessor q;
        restore(q, saved(p));
        EXPECT_EQ(valueOf(q, "gain"), 25.5f);
        EXPECT_EQ(valueOf(q, "mix"), 20.0f);
    }
}

// ---- The nesting walk -------------------------------------------------------------------

struct Nesting
{
    const char* name;
    std::string text;
    std::optional<int> depth;
};

void PrintTo(const Nesting& c, std::ostream* os) { *os << c.name; }

class StateNesting : public testing::TestWithParam<Nesting>
{
};

const Nesting nestings[] = {
    { "SavedState", document(param("gain", "1") + param("mix", "2")), 2 },
    { "EmptyText", "", 0 },
    { "OnlyTheDeclaration", declaration, 0 },
    { "EmptyRoot", "<a/>", 1 },
    { "ThreeLevels", "<a><b><c/></b><b/></a>", 3 },
    { "SiblingsDoNotAddUp", "<a><b></b><b></b><b><c/></b></a>", 3 },
    { "CommentsInstructionsAndCdataHideTheirMarkup",
      "<!-- <a><a> --><?pi <a>?><a><!-- <b><b> --><![CDATA[<b><b>]]>text</a>", 1 },
    { "AttributeValuesHideTheirMarkers", R"(<a x="/>" y='">'><b/></a>)", 2 },
    { "AnyEndTagClosesTheOpenElement", "<a><b></x></y><c><d/></c>", 2 },
    { "TextEndingInATagStopsTheWalk", "<a><b><c", 3 },
    { "TextEndingInAnAttributeStopsTheWalk", R"(<a><b x="1)", 2 },
    { "NothingIsReadAfterTheRoot", "<a/><b><c><d>&<", 1 },
    { "References", R"(<a x="&amp;&#60;&#x3C;">&lt;&#X3c;&name.x;</a>)", 1 },
    { "DocumentType", "<!DOCTYPE a><a/>", std::nullopt },
    { "TextBeforeTheRoot", "hello<a/>", std::nullopt },
    { "SpaceAfterTheBracket", "<a>< b/></a>", std::nullopt },
    { "NameOutsideAscii", "<a><\xc3\xa9/></a>", std::nullopt },
    { "StrayCharacterInATag", "<a b/ ></a>", std::nullopt },
    { "CommentInATag", "<a <!-- x --> />", std::nullopt },
    { "UnquotedAttribute", "<a x=1/>", std::nullopt },
    { "LessThanInAnAttribute", R"(<a x="<"/>)", std::nullopt },
    { "BareAmpersand", "<a>fish & chips</a>", std::nullopt },
    { "ElementsInsideAReference", "<a>&<b><c>;</a>", std::nullopt },
    { "UnterminatedHexReference", "<a>&#x41", std::nullopt },
    { "EmptyReference", "<a>&#;</a>", std::nullopt },
    { "UnknownDeclarationInContent", "<a><!ELEMENT a></a>", std::nullopt },
    { "InstructionInsideAnElement", "<a><?pi x?><b/></a>", std::nullopt },
};

TEST_P(StateNesting, DepthOfText)
{
    EXPECT_EQ(savedstate::elementDepth(GetParam().text.c_str()), GetParam().depth);
}

INSTANTIATE_TEST_SUITE_P(State, StateNesting, testing::ValuesIn(nestings),
                         [](const testing::TestParamInfo<Nesting>& info) { return info.param.name; });

TEST(State, AMillionLevelsAreMeasuredWithoutRecursion)
{
    EXPECT_EQ(savedstate::elementDepth(nested(1000000).c_str()), 1000000);
}

TEST(State, NestingBoundIsSixteenLevels)
{
    // The root, fourteen levels and a child at the bottom are taken; one more is refused.
    QuillonAudioProcessor p;
    restore(p, envelope(document(param("gain", "12") + nested(14, param("x", "1")))));
    EXPECT_EQ(valueOf(p, "gain"), 12.0f);
    restore(p, envelope(document(param("gain", "13") + nested(15, param("x", "1")))));
    EXPECT_EQ(valueOf(p, "gain"), 12.0f);
}

// What the refusals above protect the host from: the framework's parser, handed these texts
// on its own, runs out of stack.
TEST(StateDeathTest, FrameworkParserOverflowsTheStackOnDeepOrSelfReferringText)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's runtime turns the stack overflow into minutes of work";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(juce::parseXML(nested(1000000)), "");
    EXPECT_DEATH(juce::parseXML(R"(<!DOCTYPE a [<!ENTITY e "x&e;">]><a>&e;</a>)"), "");
}
