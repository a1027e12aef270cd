// Nearest palette entry to a premultiplied colour, by squared distance over
// the four channels. Ties go to the lowest entry number, so every path gives
// the same answer.
#ifndef TOVIX_QUANTIZER_NEAREST_H
#define TOVIX_QUANTIZER_NEAREST_H

#include <stdint.h>

#include "colour.h"

namespace tovixquant {

class NearestSearch {
  public:
    NearestSearch();

    // Takes the palette to search (count entries, 1 to 256). `many` says that many queries will
    // follow: then the neighbour lists that speed up each query are worth building.
    void setPalette(const Premul* palette, int count, bool many);

    // Nearest entry to q. `guess` (an entry number, or -1) is tried first:
    // when q lies closer to it than half the distance to the guess's own
    // nearest neighbour, no other entry can be nearer. Otherwise the answer
    // is the nearest of the guess's listed neighbours, when no entry beyond
    // the list can be nearer, or else comes from a scan of the palette.
    // (Every caller asks about distinct colours, so answers are not cached.)
    int find(const Premul& q, int guess) {
        if (full_)
            return scan(q);
        if (guess < 0)
            return scan(q);
        const int32_t d0 = distance2(q, palette_[guess]);
        if (4 * d0 < isolation_[guess])
            return guess;
        return useNeighbours_ ? searchAround(q, guess, d0) : scan(q);
    }

    // Exhaustive search over the whole palette, leaving out entry `except`
    // when it is given.
    int scan(const Premul& q, int except = -1) const;

    // Nearest entry to q other than `nearest`, which must be q's nearest
    // entry; -1 when the palette has no other entry. Ties go to the lowest
    // entry number, on every path.
    int second(const Premul& q, int nearest);

    void setFullSearch(bool on) { full_ = on; }
    int count() const { return count_; }
    const Premul& entry(int i) const { return palette_[i]; }

  private:
    int searchAround(const Premul& q, int guess, int32_t guessDistance);
    // Squared distances from q to every entry (up to the next multiple of
    // eight) into out.
    void distancesTo(const Premul& q, int32_t* out) const;
    void prepareNeighbours(int entry);
    int nearerThan(const int32_t* row, int32_t limit, int entry, uint8_t* near) const;
    void nearestListed(const Premul& q, int entry, int& best, int32_t& bestD) const;

    static constexpr int kPadded = 256;
    // Neighbours listed per entry; beyond them the search scans everything.
    static constexpr int kNeighbours = 16;

    Premul palette_[256];
    int32_t isolation_[256]; // squared distance to the nearest other entry
    // Structure-of-arrays copy for the vector scan, padded with far entries.
    alignas(16) int16_t r_[kPadded];
    alignas(16) int16_t g_[kPadded];
    alignas(16) int16_t b_[kPadded];
    alignas(16) int16_t a_[kPadded];
    int32_t distances_[256][256]; // squared distances between entries
    // The nearest neighbours of each entry, in no particular order, and the
    // distance from the entry to the nearest entry not listed (infinite when
    // every other entry is listed); prepared on first use.
    uint8_t neighbours_[256][kNeighbours];
    int listed_[256];
    float beyond_[256];
    // The neighbours' components, for the vector path; far away past the end.
    alignas(16) int16_t neighbourR_[256][kNeighbours];
    alignas(16) int16_t neighbourG_[256][kNeighbours];
    alignas(16) int16_t neighbourB_[256][kNeighbours];
    alignas(16) int16_t neighbourA_[256][kNeighbours];
    bool neighboursReady_[256];
    int count_ = 0;
    bool full_ = false;
    bool useNeighbours_ = false;
};

} // namespace tovixquant

#endif
