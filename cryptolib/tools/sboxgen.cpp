// Derives Boolean circuits for the eight DES S-boxes from their tables and
// prints them as C++ templates over a lane type, one bit of a block per lane
// bit. Each output bit is a multiplexer tree over the six inputs (Shannon
// expansion); every gate is remembered by its truth table, so equal or
// complementary sub-functions are shared within a box, and of all 720 orders
// of expanding the inputs the one with the fewest gates is printed. Every
// circuit is re-evaluated against the table for all 64 inputs before it is
// printed; a mismatch stops the tool without output.
// Usage: korrim_sboxgen > cryptolib/src/des_sboxes.h
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "../src/des_tables.h"

namespace {

using Table = uint64_t;  // bit x: the function's value for input x (first input bit = bit 5 of x)

constexpr Table kOnes = ~Table{0};

constexpr Table inputTable(int var) {
    Table t = 0;
    for (unsigned x = 0; x < 64; ++x) {
        if ((x >> (5 - var)) & 1) t |= Table{1} << x;
    }
    return t;
}

enum class Op { And, Or, Xor, AndNot, Not };

struct Gate {
    Op op;
    int a;  // operand indices into the signal list; b unused for Not
    int b;
};

// Signals 0..5 are the inputs; every later one is a gate.
class Circuit {
  public:
    Circuit() {
        for (int v = 0; v < 6; ++v) {
            tables_.push_back(inputTable(v));
            known_[inputTable(v)] = v;
            gates_.push_back({Op::Not, -1, -1});  // placeholder for an input
        }
    }

    int gateCount() const { return static_cast<int>(tables_.size()) - 6; }
    const std::vector<Gate>& gates() const { return gates_; }

    // A signal computing f with the given expansion order; f is not constant.
    int build(Table f, const std::array<int, 6>& order, int depth) {
        if (auto it = known_.find(f); it != known_.end()) return it->second;
        if (auto it = known_.find(~f); it != known_.end()) return emit(Op::Not, it->second, -1);
        const int var = order[depth];
        const Table mask = inputTable(var);
        const int shift = 1 << (5 - var);
        const Table f0 = (f & ~mask) | ((f & ~mask) << shift);
        const Table f1 = (f & mask) | ((f & mask) >> shift);
        if (f0 == f1) return build(f, order, depth + 1);
        const int x = var;
        if (f0 == 0 && f1 == kOnes) return x;
        if (f0 == kOnes && f1 == 0) return emit(Op::Not, x, -1);
        if (f0 == 0) return emit(Op::And, x, build(f1, order, depth + 1));
        if (f1 == 0) return emit(Op::AndNot, build(f0, order, depth + 1), x);
        if (f1 == kOnes) return emit(Op::Or, x, build(f0, order, depth + 1));
        if (f0 == kOnes) return emit(Op::Or, emit(Op::Not, x, -1), build(f1, order, depth + 1));
        const int low = build(f0, order, depth + 1);
        if (f1 == ~f0) return emit(Op::Xor, low, x);
        const int high = build(f1, order, depth + 1);
        return emit(Op::Xor, low, emit(Op::And, x, emit(Op::Xor, low, high)));
    }

    // Drops the gates no output depends on (a remembered result can make a
    // freshly emitted operand unnecessary) and renumbers the rest.
    Circuit compact(std::array<int, 4>& outputs) const {
        std::vector<bool> live(gates_.size(), false);
        for (int o : outputs) live[static_cast<size_t>(o)] = true;
        for (size_t i = gates_.size(); i-- > 6;) {
            if (!live[i]) continue;
            live[static_cast<size_t>(gates_[i].a)] = true;
            if (gates_[i].b >= 0) live[static_cast<size_t>(gates_[i].b)] = true;
        }
        Circuit result;
        std::vector<int> renamed(gates_.size(), -1);
        for (int v = 0; v < 6; ++v) renamed[static_cast<size_t>(v)] = v;
        for (size_t i = 6; i < gates_.size(); ++i) {
            if (!live[i]) continue;
            const Gate& g = gates_[i];
            renamed[i] = result.emit(g.op, renamed[static_cast<size_t>(g.a)],
                                     g.b >= 0 ? renamed[static_cast<size_t>(g.b)] : -1);
        }
        for (int& o : outputs) o = renamed[static_cast<size_t>(o)];
        return result;
    }

  private:
    int emit(Op op, int a, int b) {
        Table t = 0;
        switch (op) {
            case Op::And:
                t = tables_[a] & tables_[b];
                break;
            case Op::Or:
                t = tables_[a] | tables_[b];
                break;
            case Op::Xor:
                t = tables_[a] ^ tables_[b];
                break;
            case Op::AndNot:
                t = tables_[a] & ~tables_[b];
                break;
            case Op::Not:
                t = ~tables_[a];
                break;
        }
        if (auto it = known_.find(t); it != known_.end()) return it->second;
        const int index = static_cast<int>(tables_.size());
        tables_.push_back(t);
        gates_.push_back({op, a, b});
        known_[t] = index;
        return index;
    }

    std::vector<Table> tables_;
    std::vector<Gate> gates_;
    std::map<Table, int> known_;
};

struct BoxCircuit {
    Circuit circuit;
    std::array<int, 4> outputs{};
};

Table outputTable(int box, int bit) {  // bit 0: the most significant output bit
    Table t = 0;
    for (unsigned x = 0; x < 64; ++x) {
        if ((korrim::des::sboxValue(box, x) >> (3 - bit)) & 1) t |= Table{1} << x;
    }
    return t;
}

BoxCircuit smallestCircuit(int box) {
    std::array<int, 6> order = {0, 1, 2, 3, 4, 5};
    BoxCircuit best;
    bool first = true;
    do {
        BoxCircuit candidate;
        for (int bit = 0; bit < 4; ++bit)
            candidate.outputs[bit] = candidate.circuit.build(outputTable(box, bit), order, 0);
        candidate.circuit = candidate.circuit.compact(candidate.outputs);
        if (first || candidate.circuit.gateCount() < best.circuit.gateCount()) best = candidate;
        first = false;
    } while (std::next_permutation(order.begin(), order.end()));
    return best;
}

// Evaluates the gate list itself, independently of the tables kept while building.
bool matchesTable(int box, const BoxCircuit& c) {
    for (unsigned x = 0; x < 64; ++x) {
        std::vector<bool> value;
        for (size_t i = 0; i < c.circuit.gates().size(); ++i) {
            const Gate& g = c.circuit.gates()[i];
            if (i < 6) {
                value.push_back(((x >> (5 - i)) & 1) != 0);
                continue;
            }
            const bool a = value[static_cast<size_t>(g.a)];
            const bool b = g.b >= 0 && value[static_cast<size_t>(g.b)];
            switch (g.op) {
                case Op::And:
                    value.push_back(a && b);
                    break;
                case Op::Or:
                    value.push_back(a || b);
                    break;
                case Op::Xor:
                    value.push_back(a != b);
                    break;
                case Op::AndNot:
                    value.push_back(a && !b);
                    break;
                case Op::Not:
                    value.push_back(!a);
                    break;
            }
        }
        unsigned result = 0;
        for (int bit = 0; bit < 4; ++bit)
            result = (result << 1) | (value[static_cast<size_t>(c.outputs[bit])] ? 1u : 0u);
        if (result != korrim::des::sboxValue(box, x)) return false;
    }
    return true;
}

bool rowsArePermutations() {
    for (const auto& box : korrim::des::kSbox) {
        for (const auto& row : box) {
            unsigned seen = 0;
            for (uint8_t v : row) seen |= 1u << v;
            if (seen != 0xFFFF) return false;
        }
    }
    return true;
}

std::string name(int signal) {
    return signal < 6 ? "a" + std::to_string(signal + 1) : "t" + std::to_string(signal - 6);
}

void print(int box, const BoxCircuit& c) {
    std::printf("\n// S-box %d, %d gates.\ntemplate <typename T>\n", box + 1,
                c.circuit.gateCount());
    std::printf(
        "inline void sbox%d(T a1, T a2, T a3, T a4, T a5, T a6, T& o1, T& o2, T& o3, T& o4) {\n",
        box + 1);
    const auto& gates = c.circuit.gates();
    for (size_t i = 6; i < gates.size(); ++i) {
        const Gate& g = gates[i];
        const std::string a = name(g.a);
        const std::string b = g.b >= 0 ? name(g.b) : "";
        std::string expr;
        switch (g.op) {
            case Op::And:
                expr = a + " & " + b;
                break;
            case Op::Or:
                expr = a + " | " + b;
                break;
            case Op::Xor:
                expr = a + " ^ " + b;
                break;
            case Op::AndNot:
                expr = a + " & ~" + b;
                break;
            case Op::Not:
                expr = "~" + a;
                break;
        }
        std::printf("    const T %s = %s;\n", name(static_cast<int>(i)).c_str(), expr.c_str());
    }
    for (int bit = 0; bit < 4; ++bit)
        std::printf("    o%d ^= %s;\n", bit + 1, name(c.outputs[bit]).c_str());
    std::printf("}\n");
}

}  // namespace

int main() {
    if (!rowsArePermutations()) {
        std::fprintf(stderr, "an S-box row is not a permutation of 0..15\n");
        return 1;
    }
    std::vector<BoxCircuit> circuits;
    for (int box = 0; box < 8; ++box) {
        circuits.push_back(smallestCircuit(box));
        if (!matchesTable(box, circuits.back())) {
            std::fprintf(stderr, "the circuit of S-box %d does not match its table\n", box + 1);
            return 1;
        }
    }
    std::printf(
        "// Generated by cryptolib/tools/sboxgen.cpp from the tables in des_tables.h; do not "
        "edit.\n"
        "// Bitsliced DES S-boxes: a1..a6 are the six input bits (first bit first),\n"
        "// o1..o4 receive the four output bits (most significant first) by exclusive or,\n"
        "// so the caller can fold them straight into the other half of the block.\n"
        "#pragma once\n\nnamespace korrim::des {\nnamespace {\n");
    for (int box = 0; box < 8; ++box) print(box, circuits[static_cast<size_t>(box)]);
    std::printf("\n}  // namespace\n}  // namespace korrim::des\n");
    return 0;
}
