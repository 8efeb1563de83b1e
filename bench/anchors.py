#!/usr/bin/python3
"""Reference optimisers on the synthetic objectives of orvane-objective.

Each anchor searches an objective through `orvane-objective NAME --batch`, so that spaces,
values and noise are exactly those the C++ strategies see, and writes one CSV line per run and
budget: objective,method,seed,budget,regret,evaluations. The anchors:

  random   uniform draws, reports the best measured figure
  tpe      Optuna's TPE sampler (independent), reports the best trial
  tpe-mv   Optuna's TPE sampler with multivariate=True, reports the best trial
  gp-ei    a plain GP-EI: Matern 5/2 with one length scale per input plus white noise, inputs
           scaled to [0, 1], options one-hot, targets normalised, 8 Latin-hypercube initial
           points, then the largest expected improvement among 2,000 fresh random candidates;
           the likelihood maximised from the initial hyperparameters only, as scikit-learn does
           by default (--gp-restarts adds random restarts); reports the best measured figure

Every measurement draws its noise from seed * 1000003 + evaluation index, as orvane-regret does.
A configuration that crashes (no figure) is scored as the worst figure seen so far.

usage: anchors.py --objective-cli PATH [--objectives a,b] [--methods m,n] [--seeds N]
                  [--first-seed N] [--budgets 20,50] [--gp-restarts N]
Needs python3-optuna and python3-sklearn (Debian packages); run with /usr/bin/python3.
"""
import argparse
import json
import math
import subprocess
import sys
import warnings

import numpy as np


class Objective:
    """One objective of orvane-objective, measured through a long-lived --batch process."""

    def __init__(self, cli, desc):
        self.desc = desc
        self.name = desc["name"]
        self.params = desc["params"]
        self.minimize = desc["direction"] == "minimize"
        self.proc = subprocess.Popen([cli, self.name, "--batch"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, bufsize=1)

    def measure(self, config, seed):
        words = " ".join(f"{k}={v}" for k, v in config.items())
        self.proc.stdin.write(f"{seed} {words}\n")
        self.proc.stdin.flush()
        line = self.proc.stdout.readline()
        if not line:
            raise RuntimeError(f"orvane-objective stopped on {self.name}: {words}")
        figure, regret = (float(t) for t in line.split())
        return figure, regret

    def close(self):
        self.proc.stdin.close()
        self.proc.wait()


def grid(p):
    """The values of an int or stepped parameter, or None for a continuous one."""
    if p["type"] == "enum":
        return None
    lo, hi = p["range"]
    if p["type"] == "float" and "step" not in p:
        return None
    step = p.get("step", 1)
    n = int(math.floor((hi - lo) / step + 1e-9)) + 1
    return [lo + k * step for k in range(n)]


def text(p, v):
    if p["type"] == "enum":
        return v
    if p["type"] == "int":
        return str(int(round(v)))
    return repr(float(v))


def random_config(params, rng):
    out = {}
    for p in params:
        if p["type"] == "enum":
            out[p["name"]] = p["options"][rng.integers(len(p["options"]))]
            continue
        g = grid(p)
        v = g[rng.integers(len(g))] if g else rng.uniform(*p["range"])
        out[p["name"]] = text(p, v)
    return out


def encode(params, config):
    """Inputs scaled to [0, 1], options one-hot."""
    u = []
    for p in params:
        v = config[p["name"]]
        if p["type"] == "enum":
            u.extend(1.0 if o == v else 0.0 for o in p["options"])
        else:
            lo, hi = p["range"]
            u.append((float(v) - lo) / (hi - lo) if hi > lo else 0.0)
    return u


def snap(p, u):
    """The valid value of parameter p nearest to u in [0, 1]."""
    lo, hi = p["range"]
    v = lo + min(max(u, 0.0), 1.0) * (hi - lo)
    g = grid(p)
    if g:
        step = p.get("step", 1)
        v = g[min(int(round((v - lo) / step)), len(g) - 1)]
    return text(p, v)


def latin_hypercube(params, n, rng):
    out = [{} for _ in range(n)]
    for p in params:
        strata = rng.permutation(n)
        for j in range(n):
            u = (strata[j] + rng.uniform()) / n
            if p["type"] == "enum":
                k = min(int(u * len(p["options"])), len(p["options"]) - 1)
                out[j][p["name"]] = p["options"][k]
            else:
                out[j][p["name"]] = snap(p, u)
    return out


class Run:
    """Bookkeeping of one search: scores (higher is better), crashes, and regrets by budget."""

    def __init__(self, obj, seed, budgets):
        self.obj, self.seed, self.budgets = obj, seed, budgets
        self.configs, self.scores, self.regrets = [], [], []
        self.best = None  # index of the best measured score
        self.result = {}

    def evaluate(self, config):
        i = len(self.configs)
        figure, regret = self.obj.measure(config, self.seed * 1000003 + i)
        finite = [s for s in self.scores if s is not None]
        score = None if math.isnan(figure) else (-figure if self.obj.minimize else figure)
        self.configs.append(config)
        self.scores.append(score)
        self.regrets.append(regret)
        if score is not None and (self.best is None or score > self.scores[self.best]):
            self.best = i
        if len(self.configs) in self.budgets:
            reported = self.best if self.best is not None else 0
            self.result[len(self.configs)] = self.regrets[reported]
        # What a model is told for a crash: the worst score so far.
        if score is None:
            score = min(finite) if finite else 0.0
        return score


def run_random(run, budget, rng):
    seen = set()
    while len(run.configs) < budget:
        c = random_config(run.obj.params, rng)
        key = json.dumps(c, sort_keys=True)
        if key in seen:
            continue
        seen.add(key)
        run.evaluate(c)


def run_tpe(run, budget, multivariate):
    import optuna
    optuna.logging.set_verbosity(optuna.logging.WARNING)
    sampler = optuna.samplers.TPESampler(seed=run.seed, multivariate=multivariate)
    study = optuna.create_study(direction="maximize", sampler=sampler)
    params = run.obj.params

    def objective(trial):
        c = {}
        for p in params:
            if p["type"] == "enum":
                c[p["name"]] = trial.suggest_categorical(p["name"], p["options"])
            elif p["type"] == "int":
                c[p["name"]] = str(trial.suggest_int(p["name"], int(p["range"][0]),
                                                     int(p["range"][1]),
                                                     step=int(p.get("step", 1))))
            else:
                c[p["name"]] = repr(trial.suggest_float(p["name"], *p["range"],
                                                        step=p.get("step")))
        return run.evaluate(c)

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        study.optimize(objective, n_trials=budget)


def run_gp_ei(run, budget, rng, restarts):
    from scipy.stats import norm
    from sklearn.gaussian_process import GaussianProcessRegressor
    from sklearn.gaussian_process.kernels import ConstantKernel, Matern, WhiteKernel
    params = run.obj.params
    for c in latin_hypercube(params, 8, rng):
        if len(run.configs) < budget:
            run.evaluate(c)
    while len(run.configs) < budget:
        finite = [s for s in run.scores if s is not None]
        worst = min(finite) if finite else 0.0
        y = np.array([s if s is not None else worst for s in run.scores])
        x = np.array([encode(params, c) for c in run.configs])
        d = x.shape[1]
        kernel = ConstantKernel(1.0, (1e-3, 1e3)) * Matern(
            length_scale=np.ones(d), length_scale_bounds=(1e-3, 1e3), nu=2.5) + WhiteKernel(
                1e-2, (1e-8, 1.0))
        gp = GaussianProcessRegressor(kernel=kernel, normalize_y=True, n_restarts_optimizer=restarts,
                                      random_state=int(rng.integers(2**31)))
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            gp.fit(x, y)
        cand = [random_config(params, rng) for _ in range(2000)]
        seen = {json.dumps(c, sort_keys=True) for c in run.configs}
        cand = [c for c in cand if json.dumps(c, sort_keys=True) not in seen]
        mu, sd = gp.predict(np.array([encode(params, c) for c in cand]), return_std=True)
        sd = np.maximum(sd, 1e-12)
        z = (mu - y.max()) / sd
        ei = (mu - y.max()) * norm.cdf(z) + sd * norm.pdf(z)
        run.evaluate(cand[int(np.argmax(ei))])


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--objective-cli", required=True)
    ap.add_argument("--objectives", default="")
    ap.add_argument("--methods", default="random,tpe,tpe-mv,gp-ei")
    ap.add_argument("--seeds", type=int, default=10)
    ap.add_argument("--first-seed", type=int, default=1)
    ap.add_argument("--budgets", default="20,50")
    ap.add_argument("--gp-restarts", type=int, default=0)
    a = ap.parse_args()
    budgets = sorted(int(b) for b in a.budgets.split(","))
    descs = json.loads(subprocess.run([a.objective_cli, "--describe"], check=True, text=True,
                                      stdout=subprocess.PIPE).stdout)
    wanted = [n for n in a.objectives.split(",") if n]
    for desc in descs:
        if wanted and desc["name"] not in wanted:
            continue
        obj = Objective(a.objective_cli, desc)
        for method in a.methods.split(","):
            for seed in range(a.first_seed, a.first_seed + a.seeds):
                run = Run(obj, seed, budgets)
                rng = np.random.default_rng(seed)
                if method == "random":
                    run_random(run, budgets[-1], rng)
                elif method in ("tpe", "tpe-mv"):
                    run_tpe(run, budgets[-1], method == "tpe-mv")
                elif method == "gp-ei":
                    run_gp_ei(run, budgets[-1], rng, a.gp_restarts)
                else:
                    sys.exit(f"anchors.py: unknown method {method}")
                for b in budgets:
                    print(f"{obj.name},{method},{seed},{b},{run.result[b]:.10g},{b}", flush=True)
        obj.close()


if __name__ == "__main__":
    main()
