#!/usr/bin/env python3
"""Writes share/bramlock_arm_planning/config/robot_pose_samples.txt for the demo arm.

One sample per line: six joint values drawn uniformly inside the joint bounds
(fixed seed), then the position x y z and the quaternion qw qx qy qz of link6
(the flange) by the arm's MDH forward kinematics. The MDH table is read from
share/bramlock_arm_description/demo_arm/mdh_table.txt; a link transform is
RotX(alpha) TransX(a) RotZ(theta + zero offset) TransZ(d).
Run it from any directory; it writes below the directory it lives in.
"""
import math
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
MDH_FILE = os.path.join(HERE, "share", "bramlock_arm_description", "demo_arm", "mdh_table.txt")
OUTPUT = os.path.join(HERE, "share", "bramlock_arm_planning", "config", "robot_pose_samples.txt")
# Joint bounds of the demo arm's URDF.
BOUNDS = [(-3.1, 3.1), (-2.27, 2.27), (-2.9, 2.9), (-3.1, 3.1), (-2.2, 2.2), (-3.1, 3.1)]
SAMPLES = 1000
SEED = 20261207


def read_mdh():
    rows = []
    with open(MDH_FILE) as table:
        for line in table:
            if line.strip() and not line.lstrip().startswith("#"):
                rows.append([float(value) for value in line.split()])
    zd, xa, qzero, alpha = rows
    return list(zip(zd, xa, qzero, alpha))


def matmul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(4)) for j in range(4)] for i in range(4)]


def link_transform(d, a, theta, alpha):
    ca, sa, ct, st = math.cos(alpha), math.sin(alpha), math.cos(theta), math.sin(theta)
    return [[ct, -st, 0.0, a],
            [st * ca, ct * ca, -sa, -sa * d],
            [st * sa, ct * sa, ca, ca * d],
            [0.0, 0.0, 0.0, 1.0]]


def quaternion(m):
    """(w, x, y, z) of a rotation matrix, w >= 0."""
    trace = m[0][0] + m[1][1] + m[2][2]
    if trace > 0.0:
        s = 2.0 * math.sqrt(trace + 1.0)
        q = (0.25 * s, (m[2][1] - m[1][2]) / s, (m[0][2] - m[2][0]) / s, (m[1][0] - m[0][1]) / s)
    elif m[0][0] > m[1][1] and m[0][0] > m[2][2]:
        s = 2.0 * math.sqrt(1.0 + m[0][0] - m[1][1] - m[2][2])
        q = ((m[2][1] - m[1][2]) / s, 0.25 * s, (m[0][1] + m[1][0]) / s, (m[0][2] + m[2][0]) / s)
    elif m[1][1] > m[2][2]:
        s = 2.0 * math.sqrt(1.0 + m[1][1] - m[0][0] - m[2][2])
        q = ((m[0][2] - m[2][0]) / s, (m[0][1] + m[1][0]) / s, 0.25 * s, (m[1][2] + m[2][1]) / s)
    else:
        s = 2.0 * math.sqrt(1.0 + m[2][2] - m[0][0] - m[1][1])
        q = ((m[1][0] - m[0][1]) / s, (m[0][2] + m[2][0]) / s, (m[1][2] + m[2][1]) / s, 0.25 * s)
    return q if q[0] >= 0.0 else tuple(-value for value in q)


def flange_pose(mdh, joints):
    pose = [[1.0 if i == j else 0.0 for j in range(4)] for i in range(4)]
    for (d, a, offset, alpha), q in zip(mdh, joints):
        pose = matmul(pose, link_transform(d, a, q + offset, alpha))
    return pose


def main():
    mdh = read_mdh()
    rng = random.Random(SEED)
    lines = []
    for _ in range(SAMPLES):
        joints = [rng.uniform(low, high) for low, high in BOUNDS]
        pose = flange_pose(mdh, joints)
        position = [pose[0][3], pose[1][3], pose[2][3]]
        values = joints + position + list(quaternion(pose))
        lines.append(" ".join("%.6f" % value for value in values))
    with open(OUTPUT, "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
