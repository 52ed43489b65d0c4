#include "cellSetup.h"

#include "paramFile.h"

#include <ostream>

void setupCells(CellGrid&, const ModelParams&, std::ostream&) {}

void setupMouths(CellGrid&) {}
