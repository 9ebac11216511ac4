#pragma once

#include <string>
#include <string_view>

namespace velmora::compose {

// What the composer's editing commands need from the HTML body: read the
// selection, put HTML in its place, read and replace the whole document.
// The desktop program answers with the web-engine `BodyEditor`; tests with
// a fake that records the calls.
class EditingSurface {
public:
    virtual ~EditingSurface() = default;

    // "htmlText": the selection's HTML source, tags included; "text": its
    // plain text. Empty with only a caret, no document, or any other
    // property name. A selection that covers the whole content of an element
    // counts as selecting the element, repeatedly outwards, but not from one
    // inline element into a block: selecting "word" in <p>one <b>word</b></p>
    // or in <p><b>word</b></p> gives "<b>word</b>", in <p>word</p> gives
    // "<p>word</p>", in <b><p>word</p></b> gives "<b><p>word</p></b>".
    virtual std::string selectionProperty(std::string_view propertyName) = 0;
    // Tag name of the innermost element holding the whole selection (taken
    // as above; a selection that is exactly one element gives that element),
    // in the engine's letter case, e.g. "B", "P"; the document's first
    // element ("HTML") when nothing is selected, empty without a document.
    virtual std::string selectionParentTag() = 0;
    // Deletes the selection (taken as above, so a selected bold word goes
    // with its b element) and inserts `html` in its place, or at the caret;
    // the caret ends after the inserted HTML. An empty `html` only deletes.
    virtual void replaceSelection(std::string_view html) = 0;
    // The whole current document, edits included, serialised as HTML.
    virtual std::string documentSource() = 0;
    // Replaces the whole document; it stays editable.
    virtual void replaceDocumentSource(std::string_view html) = 0;
    // Puts the keyboard focus on the body.
    virtual void focusBody() = 0;
};

} // namespace velmora::compose
