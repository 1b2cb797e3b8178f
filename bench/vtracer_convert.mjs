// Traces one PNG with vtracer (@neplex/vectorizer) at its defaults: node vtracer_convert.mjs IN.png OUT.svg
// The package is looked up from VTRACER_DIR (a folder holding node_modules) when set;
// `node vtracer_convert.mjs --check` exits 0 when it is installed, 3 when not.
import { readFile, writeFile } from 'node:fs/promises';
import { createRequire } from 'node:module';
import path from 'node:path';
const require = createRequire(path.join(process.env.VTRACER_DIR || process.cwd(), 'x.js'));
let vt;
try { vt = require('@neplex/vectorizer'); } catch { console.error('vtracer not installed'); process.exit(3); }
const [input, output] = process.argv.slice(2);
if (input === '--check') process.exit(0);  // installed
const svg = await vt.vectorize(await readFile(input), { colorMode: vt.ColorMode.Color, hierarchical: vt.Hierarchical.Stacked, mode: vt.PathSimplifyMode.Spline, filterSpeckle: 4, colorPrecision: 6, layerDifference: 16, cornerThreshold: 60, lengthThreshold: 4, maxIterations: 10, spliceThreshold: 45, pathPrecision: 8 });
await writeFile(output, svg);
