# Per-file switches for g++ 12 false positives inside standard-library code.
# Each entry names one file and one warning, with the reason beside it.
