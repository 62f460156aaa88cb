# Everything a fresh clone needs: `make demo` runs the demo, `make test` the
# whole test suite. Both create .venv with Python 3.13 and install the package.
VENV      := .venv
PY        := $(VENV)/bin/python
STAMP     := $(VENV)/.kelo_ui-installed
SOURCES   := $(shell find src -type f) pyproject.toml CMakeLists.txt

.PHONY: demo test bench install clean

demo: $(STAMP)
	$(PY) -m kelo_ui

test: $(STAMP)
	$(PY) -m pytest

bench: $(STAMP)
	$(PY) benchmarks/bench_calls.py

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
