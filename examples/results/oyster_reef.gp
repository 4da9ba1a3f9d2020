# Biomass against time from examples/results/oyster_reef.report, drawn by ecodyn-plot.
# Run it again with: gnuplot SCRIPT (or set outfile = 'name' first).

$cycle1 << EOD
# time | 1 Filter Feeders | 2 Microbiota | 3 Meiofauna | 4 Deposit Feeders | 5 Predators | 6 Deposited Detritus
0.000 2000 2.41 24.1 16.3 20 1000
2.000 2000 4.21 4.58 16.1 20 999
4.000 2000 14 0.961 17.3 20 968
6.000 2000 41.1 0.202 20 20 829
8.000 2000 31.5 0.0378 23.1 20 660
10.000 2000 6.63 0.00635 25.3 20.1 621
12.000 2000 0.736 0.000922 22.4 20.1 641
14.000 2000 0.296 0.000125 17.6 20.1 666
16.000 2000 0.17 1.74e-05 13.8 20.1 692
18.000 2010 0.123 2.46e-06 10.8 20.1 716
20.000 2010 0.11 3.55e-07 8.53 20.1 741
22.000 2010 0.122 5.22e-08 6.75 20 764
24.000 2010 0.164 7.8e-09 5.35 19.9 787
26.000 2010 0.265 1.19e-09 4.26 19.8 808
28.000 2010 0.505 1.83e-10 3.41 19.7 829
28.795 ? ? 1.83e-10 ? ? ?
30.000 2010 1.06 NaN 2.78 19.6 847
32.000 2010 2.36 NaN 2.43 19.5 859
34.000 2010 5.53 NaN 2.39 19.4 859
36.000 2010 12.4 NaN 2.59 19.4 832
38.000 2010 19.7 NaN 2.93 19.3 768
40.000 2010 17.2 NaN 3.31 19.2 700
42.000 2010 9.2 NaN 3.64 19.1 668
44.000 2010 3.97 NaN 3.75 19 667
46.000 2010 1.74 NaN 3.46 18.9 680
48.000 2010 0.946 NaN 2.9 18.8 699
50.000 2010 0.669 NaN 2.33 18.7 719
52.000 2010 0.586 NaN 1.86 18.6 739
54.000 2010 0.619 NaN 1.49 18.5 759
56.000 2010 0.77 NaN 1.2 18.4 779
58.000 2010 1.11 NaN 0.984 18.4 796
60.000 2010 1.8 NaN 0.845 18.3 811
62.000 2010 3.23 NaN 0.782 18.2 820
64.000 2010 6.02 NaN 0.789 18.1 817
66.000 2010 10.3 NaN 0.848 18 796
68.000 2010 13.8 NaN 0.94 17.9 756
70.000 2010 12.7 NaN 1.04 17.8 715
72.000 2010 8.64 NaN 1.14 17.7 691
74.000 2010 5.08 NaN 1.19 17.7 685
76.000 2010 2.97 NaN 1.16 17.6 692
78.000 2010 1.91 NaN 1.06 17.5 705
80.000 2010 1.41 NaN 0.919 17.4 721
82.000 2010 1.23 NaN 0.775 17.3 738
84.000 2020 1.26 NaN 0.651 17.2 755
86.000 2020 1.48 NaN 0.554 17.1 771
88.000 2020 1.98 NaN 0.486 17.1 785
90.000 2020 2.93 NaN 0.449 17 795
92.000 2020 4.61 NaN 0.441 16.9 798
94.000 2020 7.12 NaN 0.458 16.8 789
96.000 2020 9.78 NaN 0.494 16.7 769
98.000 2020 10.8 NaN 0.54 16.7 740
100.000 2020 9.4 NaN 0.589 16.6 715
102.000 2020 6.84 NaN 0.627 16.5 702
104.000 2020 4.64 NaN 0.644 16.4 700
106.000 2020 3.2 NaN 0.631 16.3 707
108.000 2020 2.39 NaN 0.59 16.3 718
110.000 2020 1.99 NaN 0.533 16.2 731
112.000 2020 1.88 NaN 0.474 16.1 745
114.000 2020 2 NaN 0.422 16 758
116.000 2020 2.39 NaN 0.383 15.9 770
118.000 2020 3.12 NaN 0.36 15.9 779
120.000 2020 4.3 NaN 0.353 15.8 782
122.000 2020 5.96 NaN 0.361 15.7 779
124.000 2020 7.74 NaN 0.381 15.6 766
126.000 2020 8.8 NaN 0.41 15.6 748
128.000 2020 8.48 NaN 0.441 15.5 729
130.000 2020 7.07 NaN 0.469 15.4 716
132.000 2020 5.42 NaN 0.488 15.3 711
134.000 2020 4.09 NaN 0.491 15.3 713
136.000 2020 3.21 NaN 0.478 15.2 720
138.000 2020 2.71 NaN 0.451 15.1 730
140.000 2020 2.5 NaN 0.419 15 740
142.000 2020 2.55 NaN 0.388 15 751
144.000 2020 2.84 NaN 0.363 14.9 761
146.000 2020 3.42 NaN 0.347 14.8 768
148.000 2020 4.3 NaN 0.342 14.8 771
150.000 2020 5.47 NaN 0.348 14.7 769
152.000 2020 6.68 NaN 0.363 14.6 762
154.000 2020 7.48 NaN 0.384 14.5 749
156.000 2020 7.48 NaN 0.408 14.5 736
158.000 2020 6.71 NaN 0.431 14.4 726
160.000 2020 5.61 NaN 0.448 14.3 720
162.000 2020 4.56 NaN 0.456 14.3 720
164.000 2020 3.77 NaN 0.452 14.2 724
166.000 2020 3.27 NaN 0.438 14.1 731
168.000 2020 3.04 NaN 0.418 14.1 739
170.000 2020 3.03 NaN 0.398 14 748
172.000 2020 3.26 NaN 0.381 13.9 755
174.000 2020 3.71 NaN 0.37 13.9 761
176.000 2020 4.38 NaN 0.367 13.8 764
178.000 2020 5.22 NaN 0.372 13.7 762
180.000 2020 6.06 NaN 0.384 13.7 757
182.000 2020 6.63 NaN 0.402 13.6 749
184.000 2020 6.71 NaN 0.423 13.5 739
186.000 2020 6.28 NaN 0.443 13.5 732
188.000 2020 5.54 NaN 0.459 13.4 727
190.000 2020 4.77 NaN 0.467 13.3 726
192.000 2020 4.13 NaN 0.468 13.3 729
194.000 2020 3.69 NaN 0.46 13.2 733
196.000 2020 3.46 NaN 0.448 13.1 740
198.000 2020 3.43 NaN 0.434 13.1 746
200.000 2020 3.6 NaN 0.422 13 752
EOD

$ends1 << EOD
28.795 1.83e-10 3
EOD

if (!exists("outfile")) outfile = "examples/results/oyster_reef.png"
set terminal pngcairo size 900,500 font 'Sans,10'
set termoption noenhanced
set output outfile

set xlabel "time"
set ylabel "biomass"
set logscale y
set format y '%g'
set offsets graph 0, graph 0, graph 0.05, graph 0.05
set autoscale xfix
set linetype 1 linecolor rgb '#1f4e9c' linewidth 2 pointtype 7 pointsize 1.2
set linetype 2 linecolor rgb '#b35900' linewidth 2 pointtype 7 pointsize 1.2
set linetype 3 linecolor rgb '#2e7d32' linewidth 2 pointtype 7 pointsize 1.2
set linetype 4 linecolor rgb '#c62828' linewidth 2 pointtype 7 pointsize 1.2
set linetype 5 linecolor rgb '#6a1b9a' linewidth 2 pointtype 7 pointsize 1.2
set linetype 6 linecolor rgb '#6d4c41' linewidth 2 pointtype 7 pointsize 1.2
set linetype 7 linecolor rgb '#c2185b' linewidth 2 pointtype 7 pointsize 1.2
set linetype 8 linecolor rgb '#616161' linewidth 2 pointtype 7 pointsize 1.2
set linetype 9 linecolor rgb '#7a7a00' linewidth 2 pointtype 7 pointsize 1.2
set linetype 10 linecolor rgb '#00796b' linewidth 2 pointtype 7 pointsize 1.2
set linetype cycle 10
set grid
set key below horizontal
set style data lines
set datafile missing '?'
set title "Oyster reef (enaR oyster)"
plot $cycle1 using 1:2 linetype 1 title "Filter Feeders", \
     $cycle1 using 1:3 linetype 2 title "Microbiota", \
     $cycle1 using 1:4 linetype 3 title "Meiofauna", \
     $cycle1 using 1:5 linetype 4 title "Deposit Feeders", \
     $cycle1 using 1:6 linetype 5 title "Predators", \
     $cycle1 using 1:7 linetype 6 title "Deposited Detritus", \
     $ends1 using 1:2:3 with points linecolor variable notitle
set output
