#include "reservoir.h"

#include "paramFile.h"

#include <ostream>

std::vector<Reservoir> readReservoirs(CellGrid&, const ModelParams&, std::ostream& out) {
    out << "\nRead ./input/reservoir.dat\n----------Reservoir setting----------\n";
    out << "reservoir.dat dose not exist. It is assumed no reservoirs exist.\n";
    out << "-------------------------------------\n\n";
    return {};
}

void route(Reservoir&, CellGrid&, int, int, int) {}
