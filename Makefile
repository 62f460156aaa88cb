# Everything a fresh clone needs: `make setup` makes a virtual X server
# available (for machines without a screen), `make demo` renders the demo into
# demo.png, `make test` runs the whole test suite. demo and test create .venv
# with Python 3.13 and install the package.
VENV      := .venv
PY        := $(VENV)/bin/python
STAMP     := $(VENV)/.kelo_ui-installed
SOURCES   := $(shell find src -type f) pyproject.toml CMakeLists.txt

.PHONY: setup demo test bench bench-draw install clean

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

install: $(STAMP)

$(PY):
	@python=$$(scripts/find-python) || exit 1; \
	echo "creating $(VENV) with $$python"; \
	"$$python" -m venv $(VENV)
	$(PY) -m pip install --quiet --upgrade pip
	$(PY) -m pip install --quiet "scikit-build-core>=0.10" cmake ninja

$(STAMP): $(PY) $(SOURCES)
	$(PY) -m pip install --quiet --no-build-isolation ".[test]"
	@touch $@

clean:
	rm -rf $(VENV) build
