% MAT -> log the way an Octave user would: load + fprintf.
% octave-cli -q --norc octave_unpack.m MAT LOG
args = argv();
src = args{1};
dst = args{2};
s = load(src);
names = fieldnames(s);
n = numel(s.(names{1}));
m = zeros(numel(names), n);
for i = 1:numel(names)
  m(i, :) = s.(names{i})(:)';
end
clear s;
fid = fopen(dst, 'w');
fprintf(fid, '# Log file written by traceunpack on %s (%d samples)\n', ...
        datestr(now, 'dd-mm-yyyy, HH:MM:SS'), n);
fprintf(fid, '%s\n', strjoin(names', ' '));
fprintf(fid, [repmat('%g ', 1, numel(names) - 1) '%g\n'], m);
fclose(fid);
