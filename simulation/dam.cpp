#include "dam.h"

#include "paramFile.h"

#include <ostream>

std::vector<Dam> readDams(CellGrid&, const ModelParams&, std::ostream& out) {
    out << "\nRead ./input/dam.dat\n-------------Dam setting-------------\n";
    out << "dam.dat does not exist. It is assumed no dams exist.\n";
    out << "-------------------------------------\n";
    return {};
}

void operate(Dam&, CellGrid&, int, int, int) {}
