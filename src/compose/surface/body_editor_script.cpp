#include "compose/surface/body_editor_script.h"

namespace velmora::compose {

namespace {

// Selection semantics the commands rely on:
// - A range that covers the whole content of elements is widened to take
//   those elements in, innermost first, as long as each is covered whole, so
//   that "htmlText" of a selected bold word is "<b>word</b>" and replacing the
//   selection replaces the b element (inserting inside it would keep the new
//   text bold). A range that is exactly one inline element is not widened
//   into a block around it, so the toggles find that element as the parent.
// - The parent element is the innermost element holding the whole widened
//   range; a range that is exactly one element has that element as parent.
// - Boundaries that lie at the very end or start of a container (a triple
//   click ends at offset 0 of the next paragraph) are moved out first, so the
//   next block does not come along as an empty copy.
const char* const helperScript = R"JS(
(function () {
    if (window.__velmoraBody) {
        return window.__velmoraBody;
    }
    const visibleGap = /[^ \t\r\n]/;
    const solid = 'img,hr,input,textarea,select,button,video,audio,iframe,object,embed,svg,canvas,table';

    function nodeLength(node) {
        return node.nodeType === Node.ELEMENT_NODE ? node.childNodes.length : (node.nodeValue || '').length;
    }
    function gapIsEmpty(gap) {
        const fragment = gap.cloneContents();
        if (visibleGap.test(fragment.textContent)) {
            return false;
        }
        return fragment.querySelector(solid) === null;
    }
    function covers(range, element) {
        const content = document.createRange();
        content.selectNodeContents(element);
        if (range.compareBoundaryPoints(Range.START_TO_START, content) > 0) {
            const gap = document.createRange();
            gap.setStart(element, 0);
            gap.setEnd(range.startContainer, range.startOffset);
            if (!gapIsEmpty(gap)) {
                return false;
            }
        }
        if (range.compareBoundaryPoints(Range.END_TO_END, content) < 0) {
            const gap = document.createRange();
            gap.setStart(range.endContainer, range.endOffset);
            gap.setEnd(element, element.childNodes.length);
            if (!gapIsEmpty(gap)) {
                return false;
            }
        }
        return true;
    }
    function inside(node, body) {
        return node !== body && body.contains(node);
    }
    function trimBoundaries(original, body) {
        const range = original.cloneRange();
        while (range.startOffset === nodeLength(range.startContainer) && inside(range.startContainer, body)) {
            range.setStartAfter(range.startContainer);
        }
        while (range.endOffset === 0 && inside(range.endContainer, body)) {
            range.setEndBefore(range.endContainer);
        }
        if (range.collapsed) {
            return original.cloneRange();
        }
        return range;
    }
    function exactlyOne(range) {
        if (range.startContainer === range.endContainer && range.endOffset === range.startOffset + 1) {
            const only = range.startContainer.childNodes[range.startOffset];
            if (only && only.nodeType === Node.ELEMENT_NODE) {
                return only;
            }
        }
        return null;
    }
    function isInline(element) {
        return window.getComputedStyle(element).display.startsWith('inline');
    }
    function widenFrom(range, node, body, atStart) {
        let changed = false;
        for (let current = node; current && inside(current, body); current = current.parentNode) {
            if (current.nodeType !== Node.ELEMENT_NODE) {
                continue;
            }
            if (!covers(range, current)) {
                break;
            }
            // A range that is exactly one inline element stays that element:
            // "<p><b>word</b></p>" gives "<b>word</b>" and the parent B, so
            // that Bold takes the bold away again.
            const only = exactlyOne(range);
            if (only && isInline(only) && !isInline(current)) {
                break;
            }
            const holdsStart = current.contains(range.startContainer);
            const holdsEnd = current.contains(range.endContainer);
            if (atStart || holdsStart) {
                range.setStartBefore(current);
            }
            if (!atStart || holdsEnd) {
                range.setEndAfter(current);
            }
            changed = true;
        }
        return changed;
    }
    function widen(original) {
        const body = document.body;
        if (!body || original.collapsed) {
            return original.cloneRange();
        }
        const range = trimBoundaries(original, body);
        for (let pass = 0; pass < 8; ++pass) {
            const fromStart = widenFrom(range, range.startContainer, body, true);
            const fromEnd = widenFrom(range, range.endContainer, body, false);
            if (!fromStart && !fromEnd) {
                break;
            }
        }
        return range;
    }
    function currentRange() {
        const selection = window.getSelection();
        return selection && selection.rangeCount > 0 ? selection.getRangeAt(0) : null;
    }
    function selectionType() {
        const range = currentRange();
        return range === null || range.collapsed ? 'none' : 'text';
    }
    function parentOf(range) {
        const only = exactlyOne(range);
        if (only) {
            return only;
        }
        let node = range.commonAncestorContainer;
        while (node && node.nodeType !== Node.ELEMENT_NODE) {
            node = node.parentNode;
        }
        return node;
    }
    function serialise(range) {
        const holder = document.createElement('div');
        holder.appendChild(range.cloneContents());
        return holder.innerHTML;
    }
    function doctypeText() {
        const type = document.doctype;
        if (!type) {
            return '';
        }
        let text = '<!DOCTYPE ' + type.name;
        if (type.publicId) {
            text += ' PUBLIC "' + type.publicId + '"';
        } else if (type.systemId) {
            text += ' SYSTEM';
        }
        if (type.systemId) {
            text += ' "' + type.systemId + '"';
        }
        return text + '>';
    }

    const api = {
        ready: function () {
            return document.readyState === 'complete';
        },
        setDesignMode: function (mode) {
            const word = String(mode).toLowerCase();
            if (word !== 'on' && word !== 'off') {
                return false;
            }
            document.designMode = word;
            if (word === 'on') {
                // New paragraphs as p elements, which the list commands turn into items.
                document.execCommand('defaultParagraphSeparator', false, 'p');
            }
            return document.designMode === word;
        },
        selectionProperty: function (name) {
            const type = selectionType();
            if (type === 'none') {
                return '';
            }
            if (name === 'htmlText') {
                return serialise(widen(currentRange()));
            }
            if (name === 'text') {
                return window.getSelection().toString();
            }
            return '';
        },
        selectionParentTag: function () {
            const range = currentRange();
            if (range === null) {
                return document.documentElement ? document.documentElement.tagName : '';
            }
            const parent = parentOf(widen(range));
            return parent ? parent.tagName : '';
        },
        replaceSelection: function (html) {
            const selection = window.getSelection();
            const original = currentRange();
            if (original === null) {
                return false;
            }
            const range = widen(original);
            range.deleteContents();
            // A rule cannot sit inside a link: at a caret within one it goes
            // after the link's end.
            if (/^\s*<hr\b/i.test(html)) {
                let node = range.startContainer;
                let link = null;
                while (node && node !== document.body) {
                    if (node.nodeType === Node.ELEMENT_NODE && node.tagName === 'A') {
                        link = node;
                    }
                    node = node.parentNode;
                }
                if (link !== null) {
                    range.setStartAfter(link);
                    range.collapse(true);
                }
            }
            if (html !== '') {
                const fragment = range.createContextualFragment(html);
                const last = fragment.lastChild;
                range.insertNode(fragment);
                if (last && last.parentNode) {
                    range.setStartAfter(last);
                }
            }
            range.collapse(true);
            selection.removeAllRanges();
            selection.addRange(range);
            return true;
        },
        runEditCommand: function (command) {
            try {
                return document.execCommand(command, false, null);
            } catch (e) {
                return false;
            }
        },
        documentSource: function () {
            return document.documentElement ? doctypeText() + document.documentElement.outerHTML : '';
        },
        replaceDocumentSource: function (source) {
            // Parsed apart and swapped in, so the document (and its design
            // mode) stays the same object and no script of the source runs.
            const parsed = new DOMParser().parseFromString(source, 'text/html');
            const root = document.adoptNode(parsed.documentElement);
            if (document.documentElement) {
                document.replaceChild(root, document.documentElement);
            } else {
                document.appendChild(root);
            }
            if (parsed.doctype && !document.doctype) {
                const type = parsed.doctype;
                document.insertBefore(document.implementation.createDocumentType(type.name, type.publicId, type.systemId), root);
            }
            return true;
        }
    };
    window.__velmoraBody = api;
    return api;
})()
)JS";

} // namespace

QString bodyEditorHelperScript() {
    return QString::fromUtf8(helperScript);
}

} // namespace velmora::compose
