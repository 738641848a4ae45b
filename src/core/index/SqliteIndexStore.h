#pragma once

#include "IndexStore.h"

namespace shareindex {

// The index in a file of this machine (SQLite).
std::unique_ptr<IndexStore> OpenSqliteIndex(const QString& path, bool bCreate, Error* pError,
                                            QString* pDetail);

} // namespace shareindex
