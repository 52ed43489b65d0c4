#include "topoFiles.h"

#include "depressionFill.h"
#include "inputError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <utility>

namespace fs = std::filesystem;

TopoData prepareTopoData(const DemGrid& grid, int32_t minCells, int32_t maxBasins) {
    const std::vector<float> filled = fillDepressions(grid);
    Drainage drainage = traceDrainage(grid, filled);
    TopoData topo;
    topo.nrows = grid.nrows;
    topo.ncols = grid.ncols;
    topo.basins = selectBasins(drainage, minCells, maxBasins);
    if (topo.basins.empty()) {
        int32_t largest = 0;
        for (std::size_t i = 0; i < drainage.flowAcc.size(); ++i) {
            if (drainage.computed[i] && drainage.flowDir[i] == 0) largest = std::max(largest, drainage.flowAcc[i]);
        }
        throw InputError("Error: no basin has " + std::to_string(minCells) + " cells or more; the largest has " +
                         std::to_string(largest) + ". Lower --min-cells.\n");
    }
    topo.riverNum = riverNumbers(drainage, topo.basins);
    topo.modDem.assign(grid.size(), -9999.0f);
    for (std::size_t i = 0; i < grid.size(); ++i) {
        if (!grid.hasData(i)) continue;
        topo.modDem[i] = filled[i];
        if (filled[i] > grid.elevation[i]) ++topo.raisedCells;
        if (drainage.computed[i] && drainage.flowDir[i] == 0) ++topo.mouthCount;
    }
    topo.flowDir = std::move(drainage.flowDir);
    topo.flowAcc = std::move(drainage.flowAcc);
    return topo;
}

std::string riverListText(const DemGrid& grid, const std::vector<BasinSummary>& basins) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(6);
    for (const BasinSummary& b : basins) {
        const int r = b.mouth / grid.ncols, c = b.mouth % grid.ncols;
        text << b.number << ' ' << c + 1 << ' ' << grid.nrows - r << ' ' << b.cellCount << ' ' << b.longestPath << ' '
             << b.streamOrder << ' ' << grid.columnLongitude(c) << ' ' << grid.rowLatitude(r) << '\n';
    }
    return text.str();
}

namespace {

template <typename T>
std::string fileOrderBytes(const std::vector<T>& values, int32_t nrows, int32_t ncols) {
    static_assert(sizeof(T) == 4, "rasters hold 4-byte values");
    std::string bytes(values.size() * 4, '\0');
    std::size_t k = 0;
    for (int32_t r = nrows - 1; r >= 0; --r) {
        for (int32_t c = 0; c < ncols; ++c) {
            uint32_t bits = 0;
            std::memcpy(&bits, &values[static_cast<std::size_t>(r) * static_cast<std::size_t>(ncols) +
                                       static_cast<std::size_t>(c)],
                        4);
            for (int b = 0; b < 4; ++b) bytes[k++] = static_cast<char>((bits >> (8 * b)) & 0xFFu);  // little-endian
        }
    }
    return bytes;
}

void renameInto(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec) throw InputError("Error: " + to.string() + " cannot be written: " + ec.message() + ".\n");
}

}  // namespace

std::string rasterBytes(const std::vector<float>& values, int32_t nrows, int32_t ncols) {
    return fileOrderBytes(values, nrows, ncols);
}

std::string rasterBytes(const std::vector<int32_t>& values, int32_t nrows, int32_t ncols) {
    return fileOrderBytes(values, nrows, ncols);
}

void createDirectory(const std::filesystem::path& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw InputError("Error: the directory " + dir.string() + " cannot be created: " + ec.message() + ".\n");
}

void writeWhole(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (out) out.close();
    if (!out) {
        std::error_code ec;
        fs::remove(path, ec);
        throw InputError("Error: " + path.string() + " cannot be written: " + std::strerror(errno) + ".\n");
    }
}

fs::path temporaryPath(const fs::path& path) {
    fs::path t = path;
    t += ".part";
    return t;
}

void writeFileAtomically(const std::string& path, const std::string& text) {
    writeWhole(temporaryPath(path), text);
    renameInto(temporaryPath(path), path);
}

void writeTopoData(const std::string& projectDir, const DemGrid& grid, const TopoData& topo, std::ostream& out) {
    const fs::path dir = fs::path(projectDir) / "topoData";
    createDirectory(dir);
    const std::pair<const char*, std::string> files[] = {
        {"modDem.bin", rasterBytes(topo.modDem, topo.nrows, topo.ncols)},
        {"flowDir.bin", rasterBytes(topo.flowDir, topo.nrows, topo.ncols)},
        {"flowAcc.bin", rasterBytes(topo.flowAcc, topo.nrows, topo.ncols)},
        {"riverNum.bin", rasterBytes(topo.riverNum, topo.nrows, topo.ncols)},
        {"riverNumList.dat", riverListText(grid, topo.basins)},
    };
    std::size_t written = 0;
    try {
        for (const auto& [name, text] : files) {
            writeWhole(temporaryPath(dir / name), text);
            ++written;
        }
    } catch (const InputError&) {
        std::error_code ec;
        for (std::size_t k = 0; k < written; ++k) fs::remove(temporaryPath(dir / files[k].first), ec);
        throw;
    }
    for (const auto& [name, text] : files) {
        out << "Write " << (dir / name).string() << '\n';
        renameInto(temporaryPath(dir / name), dir / name);
    }
}
