#pragma once

#include "wizard/title_set_table.h"

namespace kv_test {

// What the title page and the configuration page read of an analysed disc,
// for the fuzz targets that analyse or import one: the tree of its titles,
// the title each node stands for with its label, and the settings proposed
// for each program chain once a preparation has counted its frames. False
// when the tree names a title the table does not hold.
bool ReadAnalysedDisc(const wizard::TitleSetTable& table);

}  // namespace kv_test
