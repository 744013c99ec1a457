#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <optional>

// The plug-in's saved settings: the parameter tree written as one line of XML inside the
// framework's binary envelope ("VC2!", text length, text, zero byte), and read back with
// every damaged or hostile block refused as a whole before anything changes.
namespace savedstate
{
// Deepest element nesting a restored block may have. Saved states are two levels deep
// (the root and its parameter children); the framework's parser recurses once per level,
// so an unbounded depth would let a crafted project file exhaust the host's stack.
constexpr int maxElementDepth = 16;

// Replaces destination's contents with the saved block of the parameter tree.
void saveState(juce::AudioProcessorValueTreeState& parameters, juce::MemoryBlock& destination);

// Restores the parameter tree from a saved block and tells whether it took the block; a
// block that is not a saved state changes nothing.
bool restoreState(juce::AudioProcessorValueTreeState& parameters, const void* data, int sizeInBytes);

// How many elements of a zero-terminated UTF-8 XML text are open at once at most, walking
// the text the way the framework's parser will. Nothing when the text holds something this
// walk does not follow, none of which a well-formed document contains: a document type
// declaration, a processing instruction inside an element, markup or a bare '<' in an
// attribute value, a malformed or unterminated reference, stray characters inside a tag.
// Text after the root element is not looked at, since the parser stops there too.
std::optional<int> elementDepth(const char* text);
} // namespace savedstate
