"""The hostile-object fuzzer of fuzz_render_tex.py: what an example drew and
the mischief of hostile objects (`world`), the objects passed (`objects`),
and the operations (`operations`)."""
