"""md.rl's calls under hazards: from another thread, and with an argument
whose conversion forks the process, is interrupted or closes the window."""

from __future__ import annotations

from fuzzing.calls import in_thread
from fuzzing.model import Divergence, compose, draw_quad, fill_rect, translation


class Hazards:
    """md.rl's calls where the window cannot be used as the call began."""

    def hazard_call(self, value):
        """(line, work, refusal, model) of a call taking `value` as a coordinate."""
        rl = self.md.rl
        kind = self.rng.choice(["draw_rectangle", "begin_scissor_mode", "rl_translatef", "rl_mult_matrixf", "texture"])
        state = self.state_now()
        texture = self.texture_arg(exclude=self.current(), allow_dead=False) if kind == "texture" else None
        if texture is not None and texture.kind != "copy":
            refusal = self.draw_refusal()
            window = texture.window(0, 0, texture.surface.w, texture.surface.h)

            def model(x):  # draw_texture at (x, 0): the texture as stored, at its size
                if self.current() is not None:
                    look = self.look_now()
                    place = compose(look.matrix, translation(x, 0))
                    draw_quad(self.current(), place, window.w, window.h, window, None, self.mode_now(), look)

            return (
                f"md.rl.draw_texture({texture.shown}, {{}}, 0, (255, 255, 255, 255))",
                lambda: rl.draw_texture(texture.obj, value, 0, (255, 255, 255, 255)),
                refusal,
                model,
            )
        if kind == "rl_mult_matrixf":
            return (
                "md.rl.rl_mult_matrixf([1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, {}, 0, 0, 1])",
                lambda: rl.rl_mult_matrixf([1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, value, 0, 0, 1]),
                None,
                lambda x: state.mats.multiply(translation(x, 0)),
            )
        if kind == "draw_rectangle":
            color = (255, 0, 255, 255)
            refusal = self.draw_refusal()

            def model(x):
                if self.current() is not None:
                    fill_rect(self.current(), x, 0, 2, 2, color, self.mode_now(), self.look_now())

            return (
                f"md.rl.draw_rectangle({{}}, 0, 2, 2, {color})",
                lambda: rl.draw_rectangle(value, 0, 2, 2, color),
                refusal,
                model,
            )
        if kind == "begin_scissor_mode" or kind == "texture":
            return (
                "md.rl.begin_scissor_mode({}, 0, 3, 3)",
                lambda: rl.begin_scissor_mode(value, 0, 3, 3),
                None,
                lambda x: self.model_scissor(state, x, 0, 3, 3),
            )
        return (
            "md.rl.rl_translatef({}, 0, 0)",
            lambda: rl.rl_translatef(value, 0, 0),
            None,
            lambda x: state.mats.multiply(translation(x, 0)),
        )

    def op_hazard(self):
        rng = self.rng
        replay = self.replay
        x = rng.randint(0, 4)
        hazard = rng.choice(["thread", "thread", "fork", "interrupt", "interrupt", "close"])
        if hazard == "thread":
            line, work, _, _ = self.hazard_call(x)
            line = line.format(x)
            self.say(f"in_thread(lambda: {line})  # raises RuntimeError there")
            outcome = in_thread(work)
            if outcome is None or outcome[0] is not RuntimeError or "thread" not in outcome[1]:
                raise Divergence(f"md.rl on another thread: expected RuntimeError naming the thread, got {outcome}")
            self.stats["refused"] += 1
        elif hazard == "fork":
            line, work, refusal, model = self.hazard_call(replay.Forking(x))
            line = f"in_fork(lambda: {line.format(f'Forking({x})')})"
            self.run(line, lambda: replay.in_fork(work), *(refusal or ()))
            report = replay.Forking.report
            if report is None or not report.startswith("RuntimeError") or "forked" not in report:
                raise Divergence(f"the forked child: expected RuntimeError saying it was forked, got {report!r}")
            if refusal is None:
                model(x)
        elif hazard == "interrupt":
            line, work, _, _ = self.hazard_call(replay.Interrupting())
            line = line.format("Interrupting()")
            self.say(f"{line}  # raises KeyboardInterrupt")
            try:
                work()
            except KeyboardInterrupt:
                self.stats["refused"] += 1
            except BaseException as error:  # noqa: BLE001 - compared with what was expected
                raise Divergence(f"expected KeyboardInterrupt, got {type(error).__name__}: {error}") from None
            else:
                raise Divergence("expected KeyboardInterrupt, nothing was raised")
        else:
            line, work, _, _ = self.hazard_call(replay.Closing(x))
            self.run(line.format(f"Closing({x})"), work, RuntimeError, "no window is open")
            self.window_closed()
