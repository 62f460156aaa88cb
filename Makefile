# Everything a fresh clone needs: `make setup` makes a virtual X server
# available (for machines without a screen), `make demo` renders the demo into
# demo.png, `make test` runs the whole test suite. demo and test create .venv
# with Python 3.13 and install the package.
VENV      := .venv
PY        := $(VENV)/bin/python
STAMP     := $(VENV)/.kelo_ui-installed
SOURCES   := $(shell find src -type f) pyproject.toml CMakeLists.txt

.PHONY: setup demo test bench bench-draw check-wheel install clean

setup:
	scripts/setup-display

demo: $(STAMP)
	$(PY) -m kelo_ui

test: $(STAMP)
	$(PY) -m pytest

bench: $(STAMP)
	$(PY) benchmarks/bench_calls.py

bench-draw: $(STAMP)
	$(PY) benchmarks/bench_draw.py

# The sdist and wheel as a package index would get them, installed and run
# outside the source tree.
check-wheel:
	scripts/check-wheel

install: $(STAMP)

$(PY):
	@python=$$(scripts/find-python) || exit 1; \
	echo "creating $(VENV) with $$python"; \
	"$$python" -m venv $(VENV)
	$(PY) -m pip install --quiet --upgrade pip
	$(PY) -m pip install --quiet "scikit-build-core>=0.11" cmake ninja

# The development install carries the native test probe, which wheels leave out.
$(STAMP): $(PY) $(SOURCES)
	$(PY) -m pip install --quiet --no-build-isolation -C cmake.define.KELO_UI_PROBE=ON ".[test]"
	@touch $@

clean:
	rm -rf $(VENV) build
