#pragma once

#include <QString>

namespace velmora::compose {

// The script every call of the body editor runs in the page: it defines (once
// per document) the helper object `window.__velmoraBody` that reads and
// replaces the selection. It runs in an isolated script world, so the
// document's own scripts (switched off anyway) can neither see nor replace it.
QString bodyEditorHelperScript();

} // namespace velmora::compose
