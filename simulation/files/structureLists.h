#pragma once
// The dam and reservoir lists of "./input/" and the hourly tables of
// "./output/damData/" and "./output/resData/".

#include "dam.h"
#include "dischargeOutput.h"
#include "grid.h"
#include "inputError.h"
#include "reservoir.h"

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

struct ModelParams;

// Prints the dam block and reads "./input/dam.dat" (optional); marks each dam
// cell as kind 99. A dam whose cell is outside the grid or is never computed
// (border, river not simulated, no positive accumulation) is an input error.
std::vector<Dam> readDams(CellGrid& grid, const std::vector<int32_t>& riverNumList, const ModelParams& params,
                          std::ostream& out);

// The hourly tables of the dams whose tables this process makes (writesTable).
std::vector<TableFile> damTables(const std::vector<Dam>& dams, const CellGrid& grid, const ModelParams& params);

// Prints the reservoir block and reads "./input/reservoir.dat" (optional);
// marks each reservoir cell as kind 100. A reservoir outside the grid, on a
// cell that is never computed, or with a negative k is an input error.
std::vector<Reservoir> readReservoirs(CellGrid& grid, const std::vector<int32_t>& riverNumList,
                                      const ModelParams& params, std::ostream& out);

// The hourly tables of the reservoirs whose tables this process makes.
std::vector<TableFile> reservoirTables(const std::vector<Reservoir>& reservoirs, const CellGrid& grid,
                                       const ModelParams& params);

// The cell at a column number (from 1 at the west) and row number (from 1 at
// the south) named by a dam or reservoir list; it must lie in the grid and be
// computed by the time loop. `what` names the structure in messages.
int32_t structureCellOf(const CellGrid& grid, const std::vector<int32_t>& riverNumList, int64_t columnNumber,
                        int64_t rowNumber, const std::string& what);

// The error of record `record` (0 is the count line) of a dam or reservoir list.
InputError structureListError(const std::string& listPath, int64_t record, const std::string& what);

// Reads one number of record `record` of a dam or reservoir list.
template <typename T>
T readStructureItem(std::istream& in, const std::string& listPath, int64_t record) {
    T value{};
    if (!(in >> value)) {
        throw structureListError(listPath, record, "the list ends early or holds a token that is not a number.");
    }
    return value;
}

// Reads the name of record `record` of a dam or reservoir list: one word of
// at most 19 characters.
std::string readStructureName(std::istream& in, const std::string& listPath, int64_t record);
