# Everything a fresh clone needs: `make demo` renders the demo into demo.png,
# `make test` runs the whole test suite. Each first makes a virtual X server
# and Mesa's GL available (scripts/setup-display installs them or says how),
# then creates .venv with Python 3.13 and builds and installs the package;
# a missing Python 3.13 or C++ compiler stops it saying what to install.
VENV      := .venv
PY        := $(VENV)/bin/python
STAMP     := $(VENV)/.kelo_ui-installed
SOURCES   := $(shell find src -type f) pyproject.toml CMakeLists.txt

.PHONY: setup display demo test bench bench-draw bench-frame bench-damage check-wheel install clean sanitize fuzz \
	fuzz-real fuzz-real-sanitize fuzz-real-sdl test-sdl install-sdl lint typecheck

# What drawing needs on a machine without a screen, asked for on every run
# that draws: packages come and go under a work tree. Quick when all is there.
display:
	@scripts/setup-display

setup: display

demo: display $(STAMP)
	$(PY) -m kelo_ui --output demo.png

test: display $(STAMP)
	$(PY) -m pytest

bench: $(STAMP)
	$(PY) benchmarks/bench_calls.py

bench-draw: display $(STAMP)
	$(PY) benchmarks/bench_draw.py

bench-frame: display $(STAMP)
	$(PY) benchmarks/bench_frame.py

# Retained scenes against pygame-ce's LayeredDirty, which runs from an
# environment of its own (.venv-peer), made the first time: pygame-ce brings
# an SDL of its own, and .venv's raylib and SDL must stay as they are.
PEER_VENV   := .venv-peer
PEER_PYGAME := 2.5.8
PEER_STAMP  := $(PEER_VENV)/.pygame-ce-$(PEER_PYGAME)-installed

bench-damage: display $(STAMP) $(PEER_STAMP)
	$(PY) benchmarks/bench_damage.py --peer-python $(PEER_VENV)/bin/python

$(PEER_STAMP):
	@python=$$(scripts/find-python) || exit 1; \
	echo "set-up: making $(PEER_VENV) with $$python and installing pygame-ce $(PEER_PYGAME) into it"; \
	"$$python" -m venv $(PEER_VENV) && $(PEER_VENV)/bin/python -m pip install --quiet "pygame-ce==$(PEER_PYGAME)"
	@touch $@

# The sdist and wheel as a package index would get them, the wheel repaired to
# a manylinux tag, installed and run outside the source tree.
check-wheel: display
	scripts/check-wheel

install: $(STAMP)

# The Python and C++ sources as the linters and formatters want them, at the
# versions the tree was formatted with: `ruff format .` and
# `clang-format -i $$(git ls-files '*.cpp' '*.h')` (from .venv/bin) fix them.
LINTERS := "ruff==0.14.14" "clang-format==21.1.8"
lint: $(PY)
	@$(PY) -m pip install --quiet $(LINTERS)
	$(VENV)/bin/ruff check .
	$(VENV)/bin/ruff format --check .
	$(VENV)/bin/clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.h')

# Strict mypy, outside the source tree so that the installed package is what
# is read: the backend protocol's own module, and typed use of the package,
# which holds the backend the toolkit ships (the window context) to the
# protocol (also part of `make test`).
typecheck: $(STAMP)
	cd /tmp && $(CURDIR)/$(PY) -m mypy --strict --no-incremental -p kelo_ui.backends
	cd /tmp && $(CURDIR)/$(PY) -m mypy --strict --no-incremental --warn-unused-ignores \
		$(CURDIR)/tests/python_layer/typing/usage.py

# A virtual environment with the build tools (.venv, .venv-sanitize); kept
# whatever make thinks of files made by pattern rules. Python 3.13 and the
# compiler are looked for together, so that a new machine hears of both.
.PRECIOUS: %/bin/python
%/bin/python:
	@python=$$(scripts/find-python); found=$$?; scripts/find-compiler >/dev/null || found=1; \
	[ $$found -eq 0 ] || exit 1; \
	echo "set-up: making the virtual environment $* with $$python"; \
	"$$python" -m venv $*
	@echo "set-up: installing the build tools into $* (pip, scikit-build-core, cmake, ninja)"
	@$@ -m pip install --quiet --upgrade pip
	@$@ -m pip install --quiet "scikit-build-core>=0.11" cmake ninja

# The development install carries the native test probe, which wheels leave out.
# The compiler is checked first, so that a missing one is named rather than
# found by CMake inside pip's output.
$(STAMP): $(PY) $(SOURCES)
	@cxx=$$(scripts/find-compiler) || exit 1; \
	echo "set-up: building the native modules with $$cxx and installing kelo_ui into $(VENV)" \
		"(about a minute the first time)"; \
	CXX=$$cxx $(PY) -m pip install --quiet --no-build-isolation -C cmake.define.KELO_UI_PROBE=ON ".[test]"
	@touch $@
	@echo "set-up: $(VENV) is ready"

clean:
	rm -rf $(VENV) $(SAN_VENV) $(SDL_VENV) $(PEER_VENV) build

# The whole suite against native modules built with AddressSanitizer and
# UndefinedBehaviorSanitizer, in an environment and build directory of their
# own; scripts/sanitize says how it runs and why.
SAN_VENV  := .venv-sanitize
SAN_PY    := $(SAN_VENV)/bin/python
SAN_STAMP := $(SAN_VENV)/.kelo_ui-installed

sanitize: display $(SAN_STAMP)
	@for so in $$(find $(SAN_VENV) -path '*kelo_ui/fast/*' -name '*.so'); do \
		ldd "$$so" | grep -q libasan || { echo "error: $$so is not built with the sanitizers" >&2; exit 1; }; \
	done
	scripts/sanitize $(SAN_PY) -m pytest

$(SAN_STAMP): $(SAN_PY) $(SOURCES)
	@cxx=$$(scripts/find-compiler) || exit 1; \
	echo "set-up: building the native modules with $$cxx and the sanitizers and installing kelo_ui into $(SAN_VENV)"; \
	CXX=$$cxx $(SAN_PY) -m pip install --quiet --no-build-isolation -C cmake.define.KELO_UI_PROBE=ON \
		--config-settings=cmake.define.KL_SANITIZE=ON \
		--config-settings=cmake.build-type=RelWithDebInfo \
		--config-settings=build-dir=build/sanitize-{wheel_tag} ".[test]"
	@touch $@
	@echo "set-up: $(SAN_VENV) is ready"

# A long property-based fuzzing run (FUZZ_CALLS calls at least).
FUZZ_CALLS ?= 100000
fuzz: $(STAMP)
	PYTHONMALLOC=debug $(PY) tests/kl_render_tex/fuzz_render_tex.py --calls $(FUZZ_CALLS)

# The real drawing stack against a model of its pixels, seed after seed, each
# seed in a child process, for SECONDS seconds.
SECONDS ?= 60
fuzz-real: display $(STAMP)
	$(PY) tests/real_drawing/fuzz_real.py --seconds $(SECONDS)

# The same against the native modules built with the sanitizers.
fuzz-real-sanitize: display $(SAN_STAMP)
	scripts/sanitize $(SAN_PY) tests/real_drawing/fuzz_real.py --seconds $(SECONDS)

# The drawing suite on raylib's SDL build (PyPI's raylib-sdl), which draws
# offscreen through EGL with no X server, in an environment and build
# directory of its own: the two builds install the same modules. kelo_ui goes
# in without its dependencies, which would bring the GLFW build back.
SDL_VENV  := .venv-sdl
SDL_PY    := $(SDL_VENV)/bin/python
SDL_STAMP := $(SDL_VENV)/.kelo_ui-installed

# The package for raylib's SDL build, from this clone: kelo_ui is on no index.
install-sdl: $(SDL_STAMP)

test-sdl: $(SDL_STAMP)
	env -u DISPLAY -u WAYLAND_DISPLAY $(SDL_PY) -m pytest tests/real_drawing

# The real drawing stack's fuzzer on the SDL build: its window reports events
# (a size at the first poll) that GLFW's hidden one does not.
fuzz-real-sdl: $(SDL_STAMP)
	env -u DISPLAY -u WAYLAND_DISPLAY $(SDL_PY) tests/real_drawing/fuzz_real.py --seconds $(SECONDS)

$(SDL_STAMP): $(SDL_PY) $(SOURCES) scripts/setup-sdl
	scripts/setup-sdl $(SDL_PY)
	@cxx=$$(scripts/find-compiler) || exit 1; \
	echo "set-up: building the native modules with $$cxx and installing kelo_ui into $(SDL_VENV)"; \
	CXX=$$cxx $(SDL_PY) -m pip install --quiet --no-build-isolation --no-deps -C cmake.define.KELO_UI_PROBE=ON \
		--config-settings=build-dir=build/sdl-{wheel_tag} .
	@touch $@
	@echo "set-up: $(SDL_VENV) is ready"
