#pragma once

#include "IndexStore.h"

namespace shareindex {

// The index in a PostgreSQL database (libpq), shared by every machine that names it.
std::unique_ptr<IndexStore> OpenPgIndex(const QString& location, bool bCreate, Error* pError,
                                        QString* pDetail);
// Drops the index's tables from that database (nothing else of it).
bool ForgetPgIndex(const QString& location, QString* pDetail);

} // namespace shareindex
