#pragma once

#include "acceptance/Steps.hpp"

namespace velmora::acceptance::session {

// The session's parts, in the order an artist meets them; each works on the
// document the one before left.
std::shared_ptr<Document> launchAndNew(Driver& d);
void paint(Driver& d, const std::shared_ptr<Document>& document);
void editLayers(Driver& d, const std::shared_ptr<Document>& document);
void moveContents(Driver& d, const std::shared_ptr<Document>& document);
void navigate(Driver& d, const std::shared_ptr<Document>& document);
void undoAndRedo(Driver& d, const std::shared_ptr<Document>& document);
// The reopened document.
std::shared_ptr<Document> saveCloseReopen(Driver& d, const std::shared_ptr<Document>& document);
void exportFlat(Driver& d, const std::shared_ptr<Document>& document);

// The flattened canvas is kept after the new document and after every
// undoable edit, for undo and redo to be compared against.
void rememberEmpty(Driver& d, const std::shared_ptr<Document>& document);
void rememberEdit(Driver& d, const std::shared_ptr<Document>& document);

bool isCyan(const std::uint8_t* p);
bool isRed(const std::uint8_t* p);

} // namespace velmora::acceptance::session
