"""The real-stack fuzzer of fuzz_real.py: the model of the pixels (`model`),
the run and its checks (`driver`), and what it does (`operations`,
`blitting`), and the head of a log of the operations (`replay`)."""
