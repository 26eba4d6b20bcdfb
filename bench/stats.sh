# Figures of a benchmark's runs, sourced by the benchmark scripts.
# median: the median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# stats COLUMN FILE: "median min max" of that column of FILE.
stats() {
  local col=$1 file=$2
  echo "$(cut -d' ' -f"$col" "$file" | median) $(cut -d' ' -f"$col" "$file" | sort -g | head -1) $(cut -d' ' -f"$col" "$file" | sort -g | tail -1)"
}
